// The edit transaction and the edits that change the document's length, with the clipboard
// exchange of Copy, Cut and Paste.

#include <cerrno>
#include <cstring>
#include <limits>

#include "document/ClipboardWave.h"
#include "document/TIndexBuilder.h"
#include "document/Twavefile.h"
#include "platform/OsError.h"

namespace kestrune {

namespace {

void AddLE32(std::uint8_t* p, std::uint32_t delta) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    v += delta;
    std::memcpy(p, &v, 4);
}

constexpr const char* kRefusedPaste =
    "The clipboard's audio is not 16-bit PCM wave data that Kestrune can read. Nothing was "
    "pasted.";

// Opens the clipboard through the UI thread for the life of the object.
class ClipboardSession {
  public:
    ClipboardSession(UiQueue& ui, IClipboard* clipboard) : ui(ui), clipboard(clipboard) {
        if (clipboard != nullptr) ui.invoke([&] { open = clipboard->Open(); });
    }
    ~ClipboardSession() {
        if (open) ui.invoke([this] { clipboard->Close(); });
    }
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;

    bool isOpen() const { return open; }
    template <typename F>
    auto run(F&& f) {
        decltype(f(*clipboard)) result{};
        ui.invoke([&] { result = f(*clipboard); });
        return result;
    }

  private:
    UiQueue& ui;
    IClipboard* clipboard;
    bool open = false;
};

}  // namespace

// --- Requests ---

bool Twavefile::StartRangeEdit(TOperation op, std::uint32_t start, std::uint32_t end) {
    if (busy || start > end || end > frames) return false;
    rangeStart = start;
    rangeEnd = end;
    return StartEdit(op);
}

bool Twavefile::StartEdit(TOperation op) {
    if (busy || !ready || !current) return false;
    operation = op;
    RunOperation();
    return true;
}

void Twavefile::Delete(std::uint32_t start, std::uint32_t end) {
    StartRangeEdit(TOperation::Delete, start, end);
}

void Twavefile::Cut(std::uint32_t start, std::uint32_t end) {
    StartRangeEdit(TOperation::Cut, start, end);
}

void Twavefile::Copy(std::uint32_t start, std::uint32_t end) {
    StartRangeEdit(TOperation::Copy, start, end);
}

void Twavefile::Paste(std::uint32_t position) {
    if (busy || position > frames) return;
    rangeStart = position;
    StartEdit(TOperation::Paste);
}

void Twavefile::InsertSilence(std::uint32_t position, std::uint32_t length) {
    if (busy || position > frames) return;
    rangeStart = position;
    silenceLength = length;
    StartEdit(TOperation::InsertSilence);
}

// --- The transaction (worker thread) ---

void Twavefile::BeginTransaction() {
    ready = false;
    TakeSnapshot();
}

void Twavefile::CreateTarget(std::uint32_t newFrames) {
    workFile = TLargeFile::NewTempFileName();
    const std::uint64_t bytes = TLargeFile::HeaderSize + 2ull * channels * newFrames;
    if (bytes > std::numeric_limits<std::uint32_t>::max()) RaiseOSError(EFBIG, workFile);
    target = std::make_unique<TLargeFile>(workFile, true, static_cast<std::uint32_t>(bytes));
    const std::uint32_t delta = 2u * channels * (newFrames - frames);  // modulo 2^32
    AddLE32(header + 4, delta);
    AddLE32(header + 40, delta);
    target->writeheader(header);
}

void Twavefile::CommitTransaction(std::uint32_t newFrames, bool reportsProgress,
                                  TIndexBuilder* built, std::uint32_t keep) {
    frames = newFrames;
    duration = sampleRate == 0 ? 0.0 : static_cast<double>(frames) / sampleRate;
    SetCurrent(nullptr);
    target.reset();
    SetCurrent(std::make_unique<TLargeFile>(workFile, false));
    if (reportsProgress) progress = 100;
    if (built != nullptr && built->Complete() && frames > BlockFrames)
        TakeIndex(*built);
    else
        RebuildIndex(keep);
    ready = true;
    RaiseOnAction(true, false);
}

void Twavefile::CopyHead(std::uint32_t s) {
    target->copyfrom(*current, 0, static_cast<std::int32_t>(s * channels), 0);
}

void Twavefile::CopyTail(std::uint32_t u, std::uint32_t v) {
    target->copyfrom(*current, u * channels, static_cast<std::int32_t>((frames - u) * channels),
                     v * channels);
}

// --- Edits ---

void Twavefile::DeleteOperation() {
    const std::uint32_t s = rangeStart, e = rangeEnd;
    BeginTransaction();
    CreateTarget(frames - (e - s));
    CopyHead(s);
    CopyTail(e, s);
    CommitTransaction(frames - (e - s), false, nullptr, s / BlockFrames);
}

void Twavefile::CutOperation() {
    CopyToClipboard(rangeStart, rangeEnd);
    DeleteOperation();
}

void Twavefile::InsertSilenceOperation() {
    const std::uint32_t p = rangeStart, n = silenceLength;
    if (std::uint64_t{frames} + n > std::numeric_limits<std::uint32_t>::max())
        RaiseOSError(EFBIG, workFile);
    BeginTransaction();
    CreateTarget(frames + n);
    CopyHead(p);
    // The silence is already there: a new store's length is set and its blocks reserved, and
    // both read as zero.
    CopyTail(p, p + n);
    CommitTransaction(frames + n, false, nullptr, p / BlockFrames);
}

void Twavefile::PasteOperation() {
    ClipboardSession session(ui, clipboard);
    if (!session.isOpen() || !session.run([](IClipboard& c) { return c.HasWaveData(); })) return;
    const auto block = session.run([](IClipboard& c) { return c.ReadWave(); });
    const auto audio = ParseClipboardWave(block, channels);
    if (!audio) {
        ui.invoke([this] { window.ShowWarning(kRefusedPaste, "Paste"); });
        return;
    }
    const std::uint32_t p = rangeStart;
    const std::uint32_t a = audio->frames;
    if (std::uint64_t{frames} + a > std::numeric_limits<std::uint32_t>::max())
        RaiseOSError(EFBIG, workFile);
    BeginTransaction();
    CreateTarget(frames + a);
    progress = 5;
    CopyHead(p);
    progress = 30;
    if (a > 0) target->putblock(audio->samples.data(), p * channels, (p + a) * channels - 1);
    progress = 60;
    CopyTail(p, p + a);
    CommitTransaction(frames + a, true, nullptr, p / BlockFrames);
}

void Twavefile::CopyOperation() {
    CopyToClipboard(rangeStart, rangeEnd);
}

void Twavefile::CopyToClipboard(std::uint32_t start, std::uint32_t end) {
    {
        ClipboardSession session(ui, clipboard);
        if (session.isOpen()) {
            std::vector<std::uint8_t> block = BuildClipboardWave(header, channels, end - start);
            progress = 5;
            if (end > start) {
                current->getblock(ClipboardWaveSamples(block), start * channels,
                                  end * channels - 1);
            }
            session.run([&block](IClipboard& c) { return c.WriteWave(std::move(block)); });
        }
    }
    progress = 0;
}

}  // namespace kestrune

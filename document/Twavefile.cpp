#include "document/Twavefile.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kestrune {

namespace {
std::uint32_t ReadLE32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
std::uint16_t ReadLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
}  // namespace

Twavefile::Twavefile(UiQueue& ui, IDocumentUI& window, IClipboard* clipboard)
    : ui(ui), window(window), clipboard(clipboard) {}

Twavefile::~Twavefile() {
    while (busy) ui.waitAndProcess(std::chrono::milliseconds(20));
}

Twavefile::Procedure Twavefile::ProcedureOf(TOperation op) {
    switch (op) {
        case TOperation::RebuildIndex:
            return [](Twavefile& d) { d.RebuildIndex(); };
        case TOperation::Load:
            return [](Twavefile& d) { d.Load(); };
        case TOperation::Export:
            return [](Twavefile& d) { d.Export(); };
        case TOperation::Cut:
            return [](Twavefile& d) { d.CutOperation(); };
        case TOperation::Copy:
            return [](Twavefile& d) { d.CopyOperation(); };
        case TOperation::Paste:
            return [](Twavefile& d) { d.PasteOperation(); };
        case TOperation::Delete:
            return [](Twavefile& d) { d.DeleteOperation(); };
        case TOperation::InsertSilence:
            return [](Twavefile& d) { d.InsertSilenceOperation(); };
        case TOperation::Normalize:
            return [](Twavefile& d) { d.NormalizeOperation(); };
        case TOperation::FadeIn:
            return [](Twavefile& d) { d.FadeOperation(true); };
        case TOperation::FadeOut:
            return [](Twavefile& d) { d.FadeOperation(false); };
        case TOperation::Reverse:
            return [](Twavefile& d) { d.ReverseOperation(); };
        case TOperation::Invert:
            return [](Twavefile& d) { d.InvertOperation(); };
        case TOperation::Amplify:
            return [](Twavefile& d) { d.AmplifyOperation(); };
        default:
            return nullptr;
    }
}

void Twavefile::RunOperation() {
    if (busy) return;
    RunProcedure(ProcedureOf(operation));
}

void Twavefile::RunProcedure(Procedure procedure) {
    if (busy || procedure == nullptr) return;
    busy = true;
    worker = std::make_unique<CThread>(procedure, *this);
    worker->Start();
}

void Twavefile::OperationDone() {
    int result = CThread::Succeeded;
    if (worker) {
        worker->Join();
        result = worker->ReturnValue();
        worker.reset();
    }
    busy = false;
    if (result == CThread::Succeeded) {
        ready = true;
        if (operation == TOperation::Load && onLoaded) onLoaded(*this, true);
        if (operation == TOperation::Export) modified = false;
    }
    if (onReady) onReady(*this, true);
    progress = 0;
}

void Twavefile::SetCurrent(std::unique_ptr<TLargeFile> store) {
    current = std::move(store);
    ++storeGeneration;
}

void Twavefile::ShowError(const std::string& message) {
    if (worker) worker->SetReturnValue(CThread::Failed);
    window.CancelCapture();
    window.ShowError(message);
}

void Twavefile::RaiseOnAction(bool canUndo, bool canRedo) {
    ui.invoke([&] {
        if (OnAction) OnAction(*this, canUndo, canRedo);
    });
}

void Twavefile::ApplyHeader(const std::uint8_t* h) {
    std::memcpy(header, h, sizeof header);
    const std::uint32_t dataBytes = ReadLE32(h + 4) - 36;
    channels = ReadLE16(h + 22);
    sampleRate = ReadLE32(h + 24);
    frames = channels == 0 ? 0 : dataBytes / (channels * 2u);
    duration = sampleRate == 0 ? 0.0 : static_cast<double>(frames) / sampleRate;
}

void Twavefile::Close() {
    if (busy) return;
    ready = false;
    if (onReleasing && current) onReleasing(*this);
    SetCurrent(nullptr);
    sourceName.clear();
    modified = false;
    redoStack.Clear();
    undoStack.Clear();
    artist.clear();
    title.clear();
    if (!workFile.empty() && ::access(workFile.c_str(), F_OK) == 0) ::unlink(workFile.c_str());
}

namespace {

// Largest and smallest sample per channel of interleaved runs, `channels` ≤ 8. Runs may start on
// any channel; 16 lanes of running extremes keep the loop free of per-sample channel tests.
class BlockExtremes {
  public:
    explicit BlockExtremes(std::uint32_t channels) : channels(channels) {}

    void reset() {
        std::fill(std::begin(max), std::end(max), std::int16_t{0});
        std::fill(std::begin(min), std::end(min), std::int16_t{32767});
    }
    // `phase` is the channel of samples[0].
    void add(const std::int16_t* samples, std::uint32_t count, std::uint32_t phase) {
        constexpr std::uint32_t L = 16;  // a multiple of 1 and 2: lane j keeps one channel
        std::uint32_t i = 0;
        if (channels <= 2 && count >= L) {
            std::int16_t mx[L], mn[L];
            std::fill_n(mx, L, std::int16_t{-32768});
            std::fill_n(mn, L, std::int16_t{32767});
            for (; i + L <= count; i += L)
                for (std::uint32_t j = 0; j < L; ++j) {
                    mx[j] = std::max(mx[j], samples[i + j]);
                    mn[j] = std::min(mn[j], samples[i + j]);
                }
            for (std::uint32_t j = 0; j < L; ++j) fold(channelOf(phase + j), mx[j], mn[j]);
        }
        for (; i < count; ++i) fold(channelOf(phase + i), samples[i], samples[i]);
    }
    std::int16_t max[MaxIndexChannels];
    std::int16_t min[MaxIndexChannels];

  private:
    std::uint32_t channelOf(std::uint32_t k) const {
        return channels == 1 ? 0 : channels == 2 ? (k & 1) : k % channels;
    }
    void fold(std::uint32_t c, std::int16_t hi, std::int16_t lo) {
        max[c] = std::max(max[c], hi);
        min[c] = std::min(min[c], lo);
    }
    std::uint32_t channels;
};

}  // namespace

void Twavefile::RebuildIndex() {
    const std::uint32_t F = frames;
    const std::uint32_t C = channels;
    if (F <= BlockFrames) return;
    progress = 0;
    std::int32_t newPeak = 0;
    const std::uint32_t B = F / BlockFrames;
    Tindexdata built((static_cast<std::size_t>(B) + 1) * C);
    BlockExtremes extremes(C);
    for (std::uint32_t b = 0; b <= B; ++b) {
        progress = static_cast<std::int32_t>(std::uint64_t{b} * 100 / B);
        const std::uint32_t n = b == B ? F % BlockFrames : BlockFrames;
        extremes.reset();
        if (n > 0) {
            const std::uint32_t first = b * BlockFrames * C;
            current->scan(first, first + n * C - 1,
                          [&, at = first](const std::int16_t* p, std::uint32_t count) mutable {
                              extremes.add(p, count, C == 1 ? 0 : at % C);
                              at += count;
                          });
        }
        for (std::uint32_t c = 0; c < C; ++c) {
            built[b * C + c] =
                n == 0 ? Tindextype{0, 0} : Tindextype{extremes.max[c], extremes.min[c]};
            newPeak = std::max<std::int32_t>(newPeak, built[b * C + c].Max);
        }
    }
    // The index is swapped in whole, so a reader never sees a half-built one.
    index = std::move(built);
    peak = static_cast<std::int16_t>(newPeak);
    progress = 0;
}

}  // namespace kestrune

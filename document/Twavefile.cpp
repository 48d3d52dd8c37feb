#include "document/Twavefile.h"

#include "document/TIndexBuilder.h"

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

void Twavefile::RebuildIndex(std::uint32_t keep) {
    const std::uint32_t F = frames;
    const std::uint32_t C = channels;
    if (F <= BlockFrames) {
        // Too short to rebuild: Index and Peak stay as they are, whatever audio they describe.
        indexCurrent = false;
        return;
    }
    progress = 0;
    const std::uint32_t B = F / BlockFrames;
    TIndexBuilder builder(F, C, indexCurrent ? &index : nullptr, keep);
    while (!builder.Complete()) {
        const std::uint32_t b = builder.NextFrame() / BlockFrames;
        progress = static_cast<std::int32_t>(std::uint64_t{b} * 100 / B);
        // A few blocks at a time, so that progress moves.
        const std::uint32_t first = builder.NextFrame();
        const std::uint32_t last = std::min(F, first + 64 * BlockFrames);
        current->scan(first * C, last * C - 1,
                      [&builder](const std::int16_t* p, std::uint32_t n) { builder.Add(p, n); });
    }
    TakeIndex(builder);
    progress = 0;
}

void Twavefile::TakeIndex(TIndexBuilder& builder) {
    // The index is swapped in whole, so a reader never sees a half-built one.
    index = builder.TakeIndex();
    peak = builder.Peak();
    indexCurrent = true;
}

}  // namespace kestrune

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

Twavefile::Twavefile(UiQueue& ui, IDocumentUI& window) : ui(ui), window(window) {}

Twavefile::~Twavefile() {
    while (busy) ui.waitAndProcess(std::chrono::milliseconds(20));
}

Twavefile::Procedure Twavefile::ProcedureOf(TOperation op) {
    switch (op) {
        case TOperation::RebuildIndex:
            return [](Twavefile& d) { d.RebuildIndex(); };
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
    current.reset();
    sourceName.clear();
    modified = false;
    redoStack.Clear();
    undoStack.Clear();
    artist.clear();
    title.clear();
    if (!workFile.empty() && ::access(workFile.c_str(), F_OK) == 0) ::unlink(workFile.c_str());
}

void Twavefile::RebuildIndex() {
    const std::uint32_t F = frames;
    const std::uint32_t C = channels;
    if (F <= BlockFrames) return;
    progress = 0;
    std::int32_t newPeak = 0;
    const std::uint32_t B = F / BlockFrames;
    Tindexdata built((static_cast<std::size_t>(B) + 1) * C);
    std::vector<std::int16_t> block(static_cast<std::size_t>(BlockFrames) * C);
    for (std::uint32_t b = 0; b <= B; ++b) {
        progress = static_cast<std::int32_t>(std::uint64_t{b} * 100 / B);
        const std::uint32_t n = b == B ? F % BlockFrames : BlockFrames;
        if (n == 0) {
            for (std::uint32_t c = 0; c < C; ++c) built[b * C + c] = {0, 0};
            continue;
        }
        const std::uint32_t first = b * BlockFrames * C;
        current->getblock(block.data(), first, first + n * C - 1);
        for (std::uint32_t c = 0; c < C; ++c) {
            std::int16_t max = 0;
            std::int16_t min = 32767;
            for (std::uint32_t f = 0; f < n; ++f) {
                const std::int16_t s = block[f * C + c];
                max = std::max(max, s);
                min = std::min(min, s);
            }
            built[b * C + c] = {max, min};
            newPeak = std::max<std::int32_t>(newPeak, max);
        }
    }
    // The index is swapped in whole, so a reader never sees a half-built one.
    index = std::move(built);
    peak = static_cast<std::int16_t>(newPeak);
    progress = 0;
}

}  // namespace kestrune

#pragma once

// Test access to a document's internals: adopt a ready-made working file without decoding, and
// run an arbitrary procedure as an operation.

#include <string>

#include "document/Twavefile.h"

namespace kestrune {

struct TwavefileTestAccess {
    using Procedure = Twavefile::Procedure;

    // Makes `path` (a working WAV file) the document's audio, as a successful Load would, and
    // rebuilds nothing: the index is left empty. The document must be closed and not busy.
    static void Adopt(Twavefile& doc, const std::string& path) {
        doc.workFile = path;
        doc.sourceName = path;
        doc.SetCurrent(std::make_unique<TLargeFile>(path, false));
        std::uint8_t h[TLargeFile::HeaderSize];
        doc.current->readheader(h);
        doc.ApplyHeader(h);
        doc.ready = true;
    }
    // Sets Operation and starts `procedure` as its body, through the document's own machinery.
    static void Run(Twavefile& doc, TOperation op, Procedure procedure) {
        if (doc.busy) return;
        doc.operation = op;
        doc.RunProcedure(procedure);
    }
    // Starts the operation's own procedure, as a request would.
    static void Run(Twavefile& doc, TOperation op) {
        if (doc.busy) return;
        doc.operation = op;
        doc.RunOperation();
    }
    static void SetSource(Twavefile& doc, const std::string& name) { doc.sourceName = name; }
    static void SetReturnValue(Twavefile& doc, int value) { doc.worker->SetReturnValue(value); }
    static void SetRange(Twavefile& doc, std::uint32_t start, std::uint32_t end) {
        doc.rangeStart = start;
        doc.rangeEnd = end;
    }
    static std::uint32_t RangeStart(const Twavefile& doc) { return doc.rangeStart; }
    static std::atomic<std::int32_t>& Progress(Twavefile& doc) { return doc.progress; }
    static void ApplyHeader(Twavefile& doc, const std::uint8_t* h) { doc.ApplyHeader(h); }
};

// Pumps `ui` until the document is no longer busy (or `seconds` pass). Returns !Busy.
inline bool WaitIdle(UiQueue& ui, Twavefile& doc, int seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (doc.Busy() && std::chrono::steady_clock::now() < end)
        ui.waitAndProcess(std::chrono::milliseconds(10));
    return !doc.Busy();
}

}  // namespace kestrune

// Edit timings on a working file, through the document's own operations.
//   bench_edit cut SRC SECONDS     Cut of SECONDS from the middle, rebuild included
//   bench_edit reverse SRC         Reverse of the whole document, rebuild included
//   bench_edit undo SRC            the UI-thread part of Undo after an edit (store swap, header)
//   bench_edit export SRC OUT      the Export of the whole document to OUT (.m4r, .wav, .mp3)
// SRC is a stereo working file (bench_store make); it is copied first and left untouched.
// Each prints the seconds the timed part took.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "document/Twavefile.h"
#include "platform/Config.h"
#include "platform/MemoryClipboard.h"
#include "tests/support/DocumentAccess.h"

using namespace kestrune;

namespace {

struct NoWindow : IDocumentUI {
    void ShowError(const std::string& m) override { std::fprintf(stderr, "error: %s\n", m.c_str()); }
    void ShowWarning(const std::string& t, const std::string&) override {
        std::fprintf(stderr, "warning: %s\n", t.c_str());
    }
    void CancelCapture() override {}
};

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: bench_edit cut SRC SECONDS | reverse SRC | undo SRC | export SRC OUT\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string work = config.tempfolder + "bench-edit-f0.wav";
    std::filesystem::copy_file(argv[2], work, std::filesystem::copy_options::overwrite_existing);
    UiQueue ui;
    NoWindow window;
    TMemoryClipboard clipboard;
    Twavefile doc(ui, window, &clipboard);
    TwavefileTestAccess::Adopt(doc, work);
    // A loaded document has its index; build it outside the timing.
    TwavefileTestAccess::Run(doc, TOperation::RebuildIndex);
    WaitIdle(ui, doc, 600);
    double seconds = 0;
    const auto start = std::chrono::steady_clock::now();
    if (mode == "cut" && argc == 4) {
        const auto n = static_cast<std::uint32_t>(std::atof(argv[3]) * doc.SampleRate());
        const std::uint32_t s = doc.Frames() / 2 - n / 2;
        doc.Cut(s, s + n);
        WaitIdle(ui, doc, 600);
        seconds = Since(start);
    } else if (mode == "reverse") {
        doc.Reverse();
        WaitIdle(ui, doc, 600);
        seconds = Since(start);
    } else if (mode == "undo") {
        doc.Invert();
        WaitIdle(ui, doc, 600);
        const auto t = std::chrono::steady_clock::now();
        doc.Undo();  // returns once the store is swapped; the rebuild runs on the worker
        seconds = Since(t);
        WaitIdle(ui, doc, 600);
    } else if (mode == "export" && argc == 4) {
        const auto t = std::chrono::steady_clock::now();
        if (!doc.SaveRange(argv[3], 0, doc.Frames())) return 1;
        WaitIdle(ui, doc, 600);
        seconds = Since(t);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    const bool ok = doc.Ready();
    doc.Close();
    std::printf("%.4f\n", seconds);
    return ok ? 0 : 1;
}

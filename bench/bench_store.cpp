// Sample store and peak index timings on a working file.
//   bench_store make PATH SECONDS    writes a stereo working file of SECONDS of a test signal
//   bench_store copy SRC DST         copyfrom of all of SRC into a new writable store at DST
//   bench_store rebuild SRC          RebuildIndex of a document on SRC
// Each timing prints the seconds it took on stdout.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "document/TLargeFile.h"
#include "document/Twavefile.h"
#include "tests/support/DocumentAccess.h"
#include "tests/support/WavFixture.h"

using namespace kestrune;

namespace {

struct NoWindow : IDocumentUI {
    void ShowError(const std::string& m) override {
        std::fprintf(stderr, "error: %s\n", m.c_str());
    }
    void ShowWarning(const std::string& t, const std::string&) override {
        std::fprintf(stderr, "warning: %s\n", t.c_str());
    }
    void CancelCapture() override {}
};

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Make(const std::string& path, double seconds) {
    const auto frames = static_cast<std::uint32_t>(seconds * 44100);
    std::ofstream out(path, std::ios::binary);
    const auto h = test::WavHeader(2, frames * 4);
    out.write(reinterpret_cast<const char*>(h.data()), 44);
    std::vector<std::int16_t> chunk(2 * 44100);
    for (std::uint32_t f = 0; f < frames; f += 44100) {
        const std::uint32_t n = std::min<std::uint32_t>(44100, frames - f);
        for (std::uint32_t k = 0; k < n; ++k) {
            const double t = (f + k) / 44100.0;
            chunk[2 * k] = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 440 * t));
            chunk[2 * k + 1] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 661 * t));
        }
        out.write(reinterpret_cast<const char*>(chunk.data()), 4 * n);
    }
    return out ? 0 : 1;
}

int Copy(const std::string& src, const std::string& dst) {
    const auto start = std::chrono::steady_clock::now();
    {
        TLargeFile source(src, false);
        TLargeFile target(dst, true, source.fileSize());
        std::uint8_t h[44];
        source.readheader(h);
        target.writeheader(h);
        target.copyfrom(source, 0, static_cast<std::int32_t>(source.sampleCount()), 0);
    }
    std::printf("%.4f\n", Since(start));
    return 0;
}

int Rebuild(const std::string& src) {
    UiQueue ui;
    NoWindow window;
    Twavefile doc(ui, window);
    TwavefileTestAccess::Adopt(doc, src);
    const auto start = std::chrono::steady_clock::now();
    TwavefileTestAccess::Run(doc, TOperation::RebuildIndex);
    WaitIdle(ui, doc, 600);
    std::printf("%.4f\n", Since(start));
    return doc.Index().empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4) return Make(argv[2], std::atof(argv[3]));
    if (mode == "copy" && argc == 4) return Copy(argv[2], argv[3]);
    if (mode == "rebuild" && argc == 3) return Rebuild(argv[2]);
    std::fprintf(stderr, "usage: bench_store make PATH SECONDS | copy SRC DST | rebuild SRC\n");
    return 2;
}

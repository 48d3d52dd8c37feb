// bench_decode INPUT OUTPUT.wav: decodes INPUT into the working file OUTPUT.wav the way a load
// does (construct, IsOpen, Decode, Finish into an index), then prints the frame count, the peak
// and the process's peak resident memory in KiB.

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <exception>

#include "document/TBASSDecoder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_decode INPUT OUTPUT.wav\n");
        return 2;
    }
    try {
        kestrune::TBASSDecoder decoder(argv[1], argv[2]);
        if (!decoder.IsOpen()) {
            std::fprintf(stderr, "bench_decode: cannot open %s\n", argv[1]);
            return 1;
        }
        std::atomic<std::int32_t> progress{0};
        if (!decoder.Decode(progress)) return 1;
        kestrune::Tindexdata index;
        decoder.PeakIndex().Finish(index);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("groups=%zu peak=%d maxrss_kb=%ld\n", index.size() / decoder.Channels(),
                    decoder.PeakIndex().Peak(), usage.ru_maxrss);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_decode: %s\n", e.what());
        return 1;
    }
    return 0;
}

// bench_encode RAW.s16le OUT.m4r: streams a raw 16-bit stereo 44100 Hz file through the ringtone
// writer in blocks of 4096 samples, as the export does, and finishes the file.
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "codec/AACwriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_encode RAW.s16le OUT.m4r\n");
        return 2;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(argv[1], "rb"), std::fclose);
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    try {
        kestrune::AACwriter writer(argv[2], 2);
        std::vector<std::int16_t> block(4096);
        std::size_t n;
        while ((n = std::fread(block.data(), sizeof(std::int16_t), block.size(), in.get())) > 0)
            writer.WriteSamples(block.data(), static_cast<std::uint32_t>(n * sizeof(std::int16_t)));
        writer.WriteSamples(block.data(), 0);
        writer.Finish();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

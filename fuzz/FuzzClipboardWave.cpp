// Feeds arbitrary bytes to the clipboard wave parser for both document layouts. Whatever it
// accepts must be whole frames in the document's layout that fit in the input, and must survive
// a round trip through a block built for the same layout.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "document/ClipboardWave.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// The 44-byte header of a block of 16-bit PCM with `channels` channels (sizes left to the builder).
std::array<std::uint8_t, 44> CanonicalHeader(std::uint16_t channels) {
    std::array<std::uint8_t, 44> h{};
    const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    std::memcpy(&h[0], "RIFF", 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, channels, 2);
    put(24, 44100, 4);
    put(28, 44100u * channels * 2, 4);
    put(32, channels * 2u, 2);
    put(34, 16, 2);
    std::memcpy(&h[36], "data", 4);
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> block(data, size);
    for (std::uint16_t channels : {1, 2}) {
        const auto audio = kestrune::ParseClipboardWave(block, channels);
        if (!audio) continue;
        Check(audio->samples.size() == std::size_t{audio->frames} * channels);
        Check(std::size_t{audio->frames} * 2 <= size);  // each frame came from the input

        const auto header = CanonicalHeader(channels);
        auto copy = kestrune::BuildClipboardWave(header.data(), channels, audio->frames);
        if (audio->frames > 0)
            std::memcpy(kestrune::ClipboardWaveSamples(copy), audio->samples.data(),
                        audio->samples.size() * 2);
        const auto again = kestrune::ParseClipboardWave(copy, channels);
        Check(again && again->frames == audio->frames && again->samples == audio->samples);
    }
    return 0;
}

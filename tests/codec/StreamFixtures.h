#pragma once

// Small audio files made with the ffmpeg command for the decoding tests, and measures of what
// comes out.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrune::test {

// Runs `ffmpeg ARGS` quietly; throws when it fails. Paths in ARGS must not need quoting.
inline void Ffmpeg(const std::string& args) {
    const std::string command = "ffmpeg -hide_banner -nostdin -loglevel error -y " + args;
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// The ffmpeg input for `seconds` of a tone in each channel: channel c is a sine of amplitude
// 0.5 at 440 × (c + 1) Hz, or silence where `only` names another channel.
inline std::string ToneInput(int rate, int channels, double seconds, int only = -1) {
    std::string expr;
    for (int c = 0; c < channels; ++c) {
        if (c) expr += '|';
        expr += (only < 0 || only == c) ? "0.5*sin(2*PI*" + std::to_string(440 * (c + 1)) + "*t)"
                                        : std::string("0");
    }
    std::string layout = channels == 1   ? "mono"
                         : channels == 2 ? "stereo"
                         : channels == 6 ? "5.1"
                                         : std::to_string(channels) + "c";
    return "-f lavfi -i \"aevalsrc=" + expr + ":s=" + std::to_string(rate) + ":c=" + layout +
           ":d=" + std::to_string(seconds) + "\"";
}

// Writes `path` holding the tone of ToneInput, encoded with `codec` (ffmpeg output options).
inline void MakeTone(const std::string& path, const std::string& codec, int rate = 44100,
                     int channels = 2, double seconds = 1.0, int only = -1) {
    Ffmpeg(ToneInput(rate, channels, seconds, only) + " " + codec + " " + path);
}

// Root mean square of one channel of interleaved samples over frames [first, last).
template <typename T>
double Rms(const std::vector<T>& samples, int channels, int channel, std::size_t first,
           std::size_t last) {
    double sum = 0;
    for (std::size_t f = first; f < last; ++f) {
        const double v = samples[f * channels + channel];
        sum += v * v;
    }
    return last > first ? std::sqrt(sum / static_cast<double>(last - first)) : 0.0;
}

// Upward zero crossings of one channel over frames [first, last): a tone's frequency × time.
template <typename T>
int Crossings(const std::vector<T>& samples, int channels, int channel, std::size_t first,
              std::size_t last) {
    int n = 0;
    for (std::size_t f = first + 1; f < last; ++f)
        if (samples[(f - 1) * channels + channel] < 0 && samples[f * channels + channel] >= 0) ++n;
    return n;
}

// Writes `samples` (mono, 16-bit, 44100 Hz) as a Monkey's Audio file, which no encoder on the
// system makes: format version 3.87 at the "fast" level, frames of 9216 samples. Each sample
// passes a first-order adaptive predictor whose residual is Rice-coded with an adapting
// parameter; the bits are stored MSB first in little-endian 32-bit words.
inline void WriteMonkeysAudio(const std::string& path, const std::vector<std::int16_t>& samples) {
    constexpr std::uint32_t FrameBlocks = 9216;
    const auto frameCount =
        static_cast<std::uint32_t>((samples.size() + FrameBlocks - 1) / FrameBlocks);
    if (frameCount == 0) throw std::invalid_argument("no samples");

    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t first = 0; first < samples.size(); first += FrameBlocks) {
        const std::size_t end = std::min(samples.size(), first + FrameBlocks);
        std::vector<std::uint32_t> words;
        std::uint64_t acc = 0;
        int bits = 0;
        auto put = [&](std::uint32_t value, int n) {
            for (int i = n - 1; i >= 0; --i) {
                acc = acc << 1 | ((value >> i) & 1);
                if (++bits == 32) {
                    words.push_back(static_cast<std::uint32_t>(acc));
                    acc = 0;
                    bits = 0;
                }
            }
        };
        put(0, 32);  // frame CRC, not checked for this version; bit 31 clear: no frame flags
        int k = 10;
        std::uint32_t ksum = 16 << 10;
        std::int32_t lastA = 0, previous = 0, filterA = 0, coeff = 375;
        for (std::size_t i = first; i < end; ++i) {
            const std::int32_t x = samples[i];
            const std::int32_t current = lastA;
            std::int32_t r;
            if (i - first < 3) {
                r = x;
                lastA = filterA = x;
            } else {
                const std::int32_t prediction = current * 2 - previous;
                const std::int32_t scaled = (prediction * coeff) >> 9;
                r = x - filterA - scaled;
                lastA = r + scaled;
                coeff += (r ^ prediction) > 0 ? 1 : -1;
                filterA += lastA;
            }
            previous = current;
            const std::uint32_t u =
                r > 0 ? 2 * static_cast<std::uint32_t>(r) - 1 : 2 * static_cast<std::uint32_t>(-r);
            const std::uint32_t overflow = u >> k;
            for (std::uint32_t z = 0; z < overflow; ++z) put(0, 1);
            put(1, 1);
            if (k) put(u & ((1u << k) - 1), k);
            ksum += u - ((ksum + 8) >> 4);
            if (ksum < (k ? 1u << (k + 4) : 0u))
                --k;
            else if (ksum >= 1u << (k + 5) && k < 24)
                ++k;
        }
        if (bits) put(0, 32 - bits);
        words.push_back(0);  // the decoder reads a little past the end
        std::vector<std::uint8_t> bytes;
        for (const std::uint32_t w : words)
            for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
        frames.push_back(std::move(bytes));
    }

    std::vector<std::uint8_t> out = {'M', 'A', 'C', ' '};
    auto le = [&](std::uint32_t v, int n) {
        for (int b = 0; b < n; ++b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    };
    le(3870, 2);  // version
    le(1000, 2);  // compression level: fast
    le(0, 2);     // format flags: 16-bit, no peak level, no seek element count
    le(1, 2);     // channels
    le(44100, 4);
    le(0, 4);  // stored WAV header bytes
    le(0, 4);  // stored WAV tail bytes
    le(frameCount, 4);
    le(static_cast<std::uint32_t>(samples.size() - (frameCount - 1) * std::size_t{FrameBlocks}),
       4);  // samples in the last frame
    std::uint32_t position = 32 + 4 * frameCount;
    for (const auto& f : frames) {  // seek table: where each frame starts
        le(position, 4);
        position += static_cast<std::uint32_t>(f.size());
    }
    for (const auto& f : frames) out.insert(out.end(), f.begin(), f.end());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

}  // namespace kestrune::test

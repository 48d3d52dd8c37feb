#pragma once

// Small audio files made with the ffmpeg command for the decoding tests, and measures of what
// comes out.

#include <cmath>
#include <cstdint>
#include <cstdlib>
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

}  // namespace kestrune::test

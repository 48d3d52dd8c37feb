// Synthesises Kestrune's demo clip: 30 seconds of a small stereo tune (a plucked arpeggio over
// C–G–Am–F with a soft bass and a hi-hat tick), written as a 16-bit 44100 Hz WAV file.
//   kestrune-democlip OUT.wav

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 30.0;
constexpr double kBeat = 0.25;  // seconds per arpeggio note

double Hz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// A plucked note: a few decaying harmonics.
double Pluck(double t, double f) {
    if (t < 0) return 0;
    const double attack = std::min(1.0, t / 0.004);
    double v = 0;
    for (int h = 1; h <= 5; ++h) v += std::sin(2 * M_PI * f * h * t) * std::exp(-t * (3.0 + h)) / h;
    return attack * v;
}

void Put(std::ofstream& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrune-democlip OUT.wav\n");
        return 2;
    }
    const int chords[4][3] = {{60, 64, 67}, {55, 59, 62}, {57, 60, 64}, {53, 57, 60}};
    const auto frames = static_cast<std::uint32_t>(kSeconds * kRate);
    std::vector<std::int16_t> pcm(2 * static_cast<std::size_t>(frames));
    std::mt19937 rng(2026);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const int step = static_cast<int>(t / kBeat);
        const int bar = (step / 8) % 4;
        double left = 0, right = 0;
        // The current and the previous arpeggio note ring together.
        for (int back = 0; back < 3; ++back) {
            const int s = step - back;
            if (s < 0) continue;
            const int* chord = chords[(s / 8) % 4];
            const int note = chord[s % 3] + (s % 8 >= 4 ? 12 : 0);
            const double v = 0.35 * Pluck(t - s * kBeat, Hz(note));
            const double pan = 0.5 + 0.35 * std::sin(s * 0.9);
            left += v * (1 - pan);
            right += v * pan;
        }
        const double bassT = std::fmod(t, 8 * kBeat);
        const double bass = 0.3 * std::sin(2 * M_PI * Hz(chords[bar][0] - 24) * t) *
                            std::exp(-bassT * 0.8) * std::min(1.0, bassT / 0.01);
        const double tickT = std::fmod(t, 2 * kBeat);
        const double tick = 0.05 * noise(rng) * std::exp(-tickT * 60);
        const double fade = std::min({1.0, t / 0.5, (kSeconds - t) / 1.5});
        const double l = fade * (left + bass + tick);
        const double r = fade * (right + bass + tick);
        pcm[2 * i] = static_cast<std::int16_t>(std::lround(std::clamp(l, -1.0, 1.0) * 32000));
        pcm[2 * i + 1] = static_cast<std::int16_t>(std::lround(std::clamp(r, -1.0, 1.0) * 32000));
    }
    std::ofstream out(argv[1], std::ios::binary);
    const std::uint32_t data = static_cast<std::uint32_t>(pcm.size() * 2);
    out.write("RIFF", 4);
    Put(out, data + 36, 4);
    out.write("WAVEfmt ", 8);
    Put(out, 16, 4);
    Put(out, 1, 2);
    Put(out, 2, 2);
    Put(out, kRate, 4);
    Put(out, kRate * 4, 4);
    Put(out, 4, 2);
    Put(out, 16, 2);
    out.write("data", 4);
    Put(out, data, 4);
    out.write(reinterpret_cast<const char*>(pcm.data()), data);
    return out ? 0 : 1;
}

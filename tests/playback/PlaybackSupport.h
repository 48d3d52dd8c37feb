#pragma once

// Helpers of the playback tests: choosing SDL's audio driver, pumping the UI queue, and test
// signals that never contain a silent sample.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/UiQueue.h"

namespace kestrune::test {

// SDL reads these when its audio starts, so they apply to devices made from now on.
inline void UseAudioDriver(const std::string& name) {
    ::setenv("SDL_AUDIODRIVER", name.c_str(), 1);
}
// The disk driver writes all the device plays, as raw samples in the device's format, to
// `file`, sleeping `periodMs` per SDL period (about 11.6 ms of sound at 44100 Hz).
inline void UseDiskDriver(const std::string& file, int periodMs) {
    UseAudioDriver("disk");
    ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    ::setenv("SDL_DISKAUDIODELAY", std::to_string(periodMs).c_str(), 1);
}

// Runs the UI queue until `done` holds or `timeout` passes; returns done().
inline bool PumpUntil(UiQueue& ui, const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < end)
        ui.waitAndProcess(std::chrono::milliseconds(5));
    return done();
}

// Runs the UI queue for `span`.
inline void PumpFor(UiQueue& ui, std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) ui.waitAndProcess(std::chrono::milliseconds(5));
}

// `count` samples in ±1 … ±30000, none of them 0, so that silence can never be mistaken for
// signal, and varied enough that a shifted or repeated run shows.
inline std::vector<std::int16_t> NonSilentSignal(std::size_t count, std::uint32_t seed = 1) {
    std::vector<std::int16_t> s(count);
    std::uint32_t x = seed;
    for (auto& v : s) {
        x = x * 1664525u + 1013904223u;
        const auto magnitude = static_cast<std::int16_t>(1 + (x >> 8) % 30000);
        v = (x & 0x80000000u) ? static_cast<std::int16_t>(-magnitude) : magnitude;
    }
    return s;
}

}  // namespace kestrune::test

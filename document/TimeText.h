#pragma once

// Conversions between frames, milliseconds and the minutes:seconds.milliseconds text that the
// window's time fields and the command line use. Pure functions.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// ms → frames at `rate`: Round(single(single(ms) / 1000 × rate)), ties to even.
inline std::uint32_t MsToFrames(std::uint32_t ms, std::uint32_t rate) {
    const float frames = static_cast<float>(static_cast<float>(ms) / 1000.0f * rate);
    return static_cast<std::uint32_t>(std::nearbyint(frames));
}

// frames → ms at `rate`: Round(single(single(frames) / rate × 1000)), ties to even.
inline std::uint32_t FramesToMs(std::uint32_t frames, std::uint32_t rate) {
    const float ms = static_cast<float>(static_cast<float>(frames) / rate * 1000.0f);
    return static_cast<std::uint32_t>(std::nearbyint(ms));
}

// "mm:ss.zzz" with at least two minute digits: 0 → "00:00.000", 65250 → "01:05.250",
// 6000000 → "100:00.000".
std::string MsToTimeText(std::uint32_t ms);

// Minutes ":" seconds "." milliseconds, each one or more decimal digits (leading zeros allowed,
// so "0:30.000", "00:30.000" and "001:05.250" all read), as minutes × 60000 + seconds × 1000 +
// milliseconds. Anything else, or a value beyond 32 bits, is nothing.
std::optional<std::uint32_t> TimeTextToMs(std::string_view text);

}  // namespace kestrune

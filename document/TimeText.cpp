#include "document/TimeText.h"

#include <cstdio>

namespace kestrune {

std::string MsToTimeText(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u.%03u", ms / 60000, ms % 60000 / 1000, ms % 1000);
    return text;
}

namespace {
std::optional<std::uint64_t> Digits(std::string_view s) {
    if (s.empty() || s.size() > 12) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}
}  // namespace

std::optional<std::uint32_t> TimeTextToMs(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto rest = text.substr(colon + 1);
    const auto dot = rest.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const auto minutes = Digits(text.substr(0, colon));
    const auto seconds = Digits(rest.substr(0, dot));
    const auto millis = Digits(rest.substr(dot + 1));
    if (!minutes || !seconds || !millis) return std::nullopt;
    const std::uint64_t ms = *minutes * 60000 + *seconds * 1000 + *millis;
    if (ms > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(ms);
}

}  // namespace kestrune

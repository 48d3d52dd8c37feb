#pragma once

// The largest and smallest sample per channel of a run of interleaved samples: the inner loop of
// both peak index builders.

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrune {

// Folds samples[0 … n) (whole frames of `channels` channels, starting on channel 0) into
// max[c] and min[c].
inline void FoldExtremes(const std::int16_t* samples, std::uint32_t n, std::uint32_t channels,
                         std::int16_t* max, std::int16_t* min) {
    const auto channelOf = [channels](std::uint32_t k) {
        return channels == 1 ? 0 : channels == 2 ? (k & 1) : k % channels;
    };
    std::uint32_t i = 0;
    if (channels <= 2 && n >= 8) {
        // Eight lanes of running extremes: with one or two channels lane j always holds channel
        // j mod channels.
        constexpr std::uint32_t L = 8;
        std::int16_t mx[L], mn[L];
#if defined(__SSE2__)
        __m128i vmax = _mm_set1_epi16(-32768);
        __m128i vmin = _mm_set1_epi16(32767);
        for (; i + L <= n; i += L) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
            vmax = _mm_max_epi16(vmax, v);
            vmin = _mm_min_epi16(vmin, v);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mx), vmax);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mn), vmin);
#else
        std::fill_n(mx, L, std::int16_t{-32768});
        std::fill_n(mn, L, std::int16_t{32767});
        for (; i + L <= n; i += L)
            for (std::uint32_t j = 0; j < L; ++j) {
                mx[j] = std::max(mx[j], samples[i + j]);
                mn[j] = std::min(mn[j], samples[i + j]);
            }
#endif
        for (std::uint32_t j = 0; j < L; ++j) {
            const std::uint32_t c = channelOf(j);
            max[c] = std::max(max[c], mx[j]);
            min[c] = std::min(min[c], mn[j]);
        }
    }
    for (; i < n; ++i) {
        const std::uint32_t c = channelOf(i);
        max[c] = std::max(max[c], samples[i]);
        min[c] = std::min(min[c], samples[i]);
    }
}

}  // namespace kestrune

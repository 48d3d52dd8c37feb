// The effects: fades, normalization, amplification, reversal and inversion. Each rewrites the
// whole document through the edit transaction without changing its length.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "document/TIndexBuilder.h"
#include "document/Twavefile.h"

namespace kestrune {

namespace {

constexpr std::uint32_t kChunkFrames = 262144;

std::int16_t Saturate(double v) {
    return static_cast<std::int16_t>(std::clamp(std::nearbyint(v), -32768.0, 32767.0));
}

// Percent done after `done` of `total` frames, without overflow.
std::int32_t Percent(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? 0 : static_cast<std::int32_t>(done * 100 / total);
}

}  // namespace

// --- Requests ---

void Twavefile::FadeIn(std::uint32_t start, std::uint32_t end) {
    StartRangeEdit(TOperation::FadeIn, start, end);
}

void Twavefile::FadeOut(std::uint32_t start, std::uint32_t end) {
    StartRangeEdit(TOperation::FadeOut, start, end);
}

void Twavefile::Normalize(std::int32_t percent) {
    if (busy) return;
    normalizePercent = percent;
    StartEdit(TOperation::Normalize);
}

void Twavefile::Amplify(std::uint32_t percent) {
    if (busy) return;
    amplifyPercent = percent;
    StartEdit(TOperation::Amplify);
}

void Twavefile::Reverse() {
    StartEdit(TOperation::Reverse);
}

void Twavefile::Invert() {
    StartEdit(TOperation::Invert);
}

// --- Operations (worker thread) ---

void Twavefile::FadeOperation(bool in) {
    const std::uint32_t s = rangeStart, e = rangeEnd, C = channels;
    BeginTransaction();
    CreateTarget(frames);
    CopyHead(s);
    const std::uint32_t n = e - s;
    if (n >= 1) {
        const double step = 90.0 / n;
        std::vector<std::int16_t> block(static_cast<std::size_t>(kChunkFrames) * C);
        for (std::uint32_t i0 = 0; i0 < n; i0 += kChunkFrames) {
            const std::uint32_t count = std::min(kChunkFrames, n - i0);
            const std::uint32_t first = (s + i0) * C;
            current->getblock(block.data(), first, first + count * C - 1);
            for (std::uint32_t k = 0; k < count; ++k) {
                const double angle = (i0 + k) * step * std::numbers::pi / 180.0;
                const double gain = in ? std::sin(angle) : std::cos(angle);
                for (std::uint32_t c = 0; c < C; ++c) {
                    std::int16_t& v = block[k * C + c];
                    v = Saturate(v * gain);
                }
            }
            target->putblock(block.data(), first, first + count * C - 1);
        }
    }
    CopyTail(e, e);
    CommitTransaction(frames, false, nullptr, s / BlockFrames);
}

namespace {

// Runs `change` over every sample of `from`, chunk by chunk, writing to `to` at the same place
// and feeding the new samples to `index`.
template <typename Change>
void MapSamples(TLargeFile& from, TLargeFile& to, std::uint32_t frames, std::uint32_t channels,
                std::atomic<std::int32_t>& progress, TIndexBuilder& index, Change change) {
    std::vector<std::int16_t> block(static_cast<std::size_t>(kChunkFrames) * channels);
    for (std::uint32_t f = 0; f < frames; f += kChunkFrames) {
        progress = Percent(f, frames);
        const std::uint32_t count = std::min(kChunkFrames, frames - f);
        const std::uint32_t first = f * channels;
        const std::uint32_t last = first + count * channels - 1;
        from.getblock(block.data(), first, last);
        for (std::uint32_t k = 0; k < count * channels; ++k) block[k] = change(block[k]);
        to.putblock(block.data(), first, last);
        index.Add(block.data(), count * channels);
    }
}

}  // namespace

void Twavefile::NormalizeOperation() {
    BeginTransaction();
    CreateTarget(frames);
    progress = 0;
    TIndexBuilder built(frames, channels);
    if (peak > 0) {
        const double gain = (normalizePercent / 100.0 * 32768.0) / peak;
        MapSamples(*current, *target, frames, channels, progress, built,
                   [gain](std::int16_t v) { return Saturate(v * gain); });
    } else {
        // Without a positive sample there is nothing to scale to: the audio stays as it is.
        CopyHead(frames);
    }
    CommitTransaction(frames, true, &built);
}

void Twavefile::AmplifyOperation() {
    const float factor = static_cast<float>(amplifyPercent) / 100.0f;
    BeginTransaction();
    CreateTarget(frames);
    TIndexBuilder built(frames, channels);
    MapSamples(*current, *target, frames, channels, progress, built, [factor](std::int16_t v) {
        const double product = std::trunc(static_cast<double>(v) * static_cast<double>(factor));
        return static_cast<std::int16_t>(std::clamp(product, -32767.0, 32767.0));
    });
    CommitTransaction(frames, true, &built);
}

void Twavefile::InvertOperation() {
    BeginTransaction();
    CreateTarget(frames);
    TIndexBuilder built(frames, channels);
    MapSamples(*current, *target, frames, channels, progress, built, [](std::int16_t v) {
        return static_cast<std::int16_t>(-static_cast<std::int32_t>(v));  // −32768 stays
    });
    CommitTransaction(frames, true, &built);
}

namespace {

// Writes the `count` frames of `in` into `out` in reverse frame order, channels in place.
template <std::uint32_t C>
void ReverseFrames(const std::int16_t* in, std::int16_t* out, std::uint32_t count) {
    std::uint32_t k = 0;
#if defined(__SSE2__)
    // 16 bytes at a time: four stereo frames or eight mono ones, reversed in a register.
    constexpr std::uint32_t perVector = 8 / C;
    for (; k + perVector <= count; k += perVector) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k * C));
        v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));  // reverses 32-bit units
        if constexpr (C == 1) {
            v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
            v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (count - k - perVector) * C), v);
    }
#endif
    for (; k < count; ++k)
        for (std::uint32_t c = 0; c < C; ++c) out[(count - 1 - k) * C + c] = in[k * C + c];
}

}  // namespace

void Twavefile::ReverseOperation() {
    const std::uint32_t F = frames, C = channels;
    BeginTransaction();
    CreateTarget(F);
    // The new document is written front to back while the old one is read from its end, so the
    // target's window only ever moves forward.
    std::vector<std::int16_t> out(static_cast<std::size_t>(kChunkFrames) * C);
    TIndexBuilder built(F, C);
    for (std::uint32_t f = 0; f < F; f += kChunkFrames) {
        progress = Percent(f, F);
        const std::uint32_t count = std::min(kChunkFrames, F - f);
        const std::uint32_t srcFrame = F - f - count;  // frames F − f − count … F − f − 1
        // Source frame srcFrame + k lands at out frame count − 1 − k.
        current->scan(srcFrame * C, (srcFrame + count) * C - 1,
                      [&, k = std::uint32_t{0}](const std::int16_t* p, std::uint32_t n) mutable {
                          const std::uint32_t frames = n / C;  // windows hold whole frames
                          std::int16_t* dst = out.data() + (count - k - frames) * C;
                          if (C == 1)
                              ReverseFrames<1>(p, dst, frames);
                          else
                              ReverseFrames<2>(p, dst, frames);
                          k += frames;
                      });
        target->putblock(out.data(), f * C, (f + count) * C - 1);
        built.Add(out.data(), count * C);
    }
    CommitTransaction(F, true, &built);
}

}  // namespace kestrune

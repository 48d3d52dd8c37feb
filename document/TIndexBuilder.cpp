#include "document/TIndexBuilder.h"

#include <algorithm>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrune {

namespace {

// Lane j of a run starting on channel `phase` holds channel (phase + j) mod channels.
std::uint32_t ChannelOf(std::uint32_t k, std::uint32_t channels) {
    return channels == 1 ? 0 : channels == 2 ? (k & 1) : k % channels;
}

}  // namespace

TIndexBuilder::TIndexBuilder(std::uint32_t frames, std::uint32_t channels,
                             const Tindexdata* previous, std::uint32_t keptBlocks)
    : frames(frames), channels(channels) {
    if (channels < 1 || channels > MaxIndexChannels)
        throw std::invalid_argument("a peak index has 1 to 8 channels");
    const std::uint32_t B = frames / BlockFrames;
    index.resize((static_cast<std::size_t>(B) + 1) * channels);
    if (previous != nullptr) {
        keptBlocks = std::min<std::uint32_t>(
            {keptBlocks, B, static_cast<std::uint32_t>(previous->size() / channels)});
        for (std::size_t e = 0; e < std::size_t{keptBlocks} * channels; ++e) {
            // The load's builder starts Max at −32768, this one at 0.
            index[e] = {std::max<std::int16_t>((*previous)[e].Max, 0), (*previous)[e].Min};
            peak = std::max<std::int32_t>(peak, index[e].Max);
        }
    } else {
        keptBlocks = 0;
    }
    block = keptBlocks;
    nextFrame = keptBlocks * BlockFrames;
    std::fill_n(max, channels, std::int16_t{0});
    std::fill_n(min, channels, std::int16_t{32767});
    if (frames % BlockFrames == 0 && block == B) CloseBlock();  // the empty last block
}

void TIndexBuilder::Add(const std::int16_t* samples, std::uint32_t count) {
    while (count > 0 && nextFrame < frames) {
        const std::uint32_t take = std::min(count / channels, BlockFrames - inBlock);
        if (take == 0) break;
        const std::uint32_t n = take * channels;
        const std::uint32_t i = channels <= 2 ? AddLanes(samples, n) : 0;
        for (std::uint32_t k = i; k < n; ++k) {
            const std::uint32_t c = ChannelOf(k, channels);
            max[c] = std::max(max[c], samples[k]);
            min[c] = std::min(min[c], samples[k]);
        }
        samples += n;
        count -= n;
        inBlock += take;
        nextFrame += take;
        if (inBlock == BlockFrames || nextFrame == frames) CloseBlock();
    }
}

std::uint32_t TIndexBuilder::AddLanes(const std::int16_t* samples, std::uint32_t n) {
    // Eight lanes of running extremes: with one or two channels lane j always holds channel
    // j mod channels, because every run starts on a frame.
    constexpr std::uint32_t L = 8;
    std::uint32_t i = 0;
    std::int16_t mx[L], mn[L];
#if defined(__SSE2__)
    __m128i vmax = _mm_set1_epi16(0);
    __m128i vmin = _mm_set1_epi16(32767);
    for (; i + L <= n; i += L) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
        vmax = _mm_max_epi16(vmax, v);
        vmin = _mm_min_epi16(vmin, v);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mx), vmax);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mn), vmin);
#else
    std::fill_n(mx, L, std::int16_t{0});
    std::fill_n(mn, L, std::int16_t{32767});
    for (; i + L <= n; i += L)
        for (std::uint32_t j = 0; j < L; ++j) {
            mx[j] = std::max(mx[j], samples[i + j]);
            mn[j] = std::min(mn[j], samples[i + j]);
        }
#endif
    if (i == 0) return 0;
    for (std::uint32_t j = 0; j < L; ++j) {
        const std::uint32_t c = ChannelOf(j, channels);
        max[c] = std::max(max[c], mx[j]);
        min[c] = std::min(min[c], mn[j]);
    }
    return i;
}

void TIndexBuilder::CloseBlock() {
    const bool empty = inBlock == 0;
    for (std::uint32_t c = 0; c < channels; ++c) {
        const Tindextype e = empty ? Tindextype{0, 0} : Tindextype{max[c], min[c]};
        index[std::size_t{block} * channels + c] = e;
        peak = std::max<std::int32_t>(peak, e.Max);
        max[c] = 0;
        min[c] = 32767;
    }
    ++block;
    inBlock = 0;
    // A document of whole blocks ends with the empty block that holds frame F.
    if (nextFrame == frames && frames % BlockFrames == 0 && block == frames / BlockFrames)
        CloseBlock();
}

Tindexdata TIndexBuilder::TakeIndex() {
    return std::move(index);
}

}  // namespace kestrune

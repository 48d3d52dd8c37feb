#include "document/TIndexBuilder.h"

#include "document/BlockExtremes.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune {

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
        FoldExtremes(samples, n, channels, max, min);
        samples += n;
        count -= n;
        inBlock += take;
        nextFrame += take;
        if (inBlock == BlockFrames || nextFrame == frames) CloseBlock();
    }
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

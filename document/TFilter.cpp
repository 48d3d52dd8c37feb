#include "document/TFilter.h"

#include "document/BlockExtremes.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune {

TFilter::TFilter(int channels) : channels(channels) {
    if (channels < 1 || channels > MaxIndexChannels)
        throw std::invalid_argument("a peak index has 1 to 8 channels");
    buffer.resize(static_cast<std::size_t>(channels) * BlockFrames);
}

void TFilter::Add(const std::int16_t* samples, std::uint32_t length) {
    const std::uint32_t count = length / 2;
    const auto full = static_cast<std::int32_t>(buffer.size());
    for (std::uint32_t i = 0; i < count;) {
        if (bufferedCount == full) {
            Flush();
            bufferedCount = 0;
        }
        // Take as much of the input as the block has room for in one go.
        const std::uint32_t n =
            std::min<std::uint32_t>(count - i, static_cast<std::uint32_t>(full - bufferedCount));
        std::copy_n(samples + i, n, buffer.begin() + bufferedCount);
        bufferedCount += static_cast<std::int32_t>(n);
        i += n;
    }
}

void TFilter::Flush() {
    index.resize(index.size() + static_cast<std::size_t>(channels));
    const std::int32_t frames = std::min<std::int32_t>(bufferedCount / channels, BlockFrames);
    std::int16_t max[MaxIndexChannels];
    std::int16_t min[MaxIndexChannels];
    std::fill_n(max, channels, std::int16_t{-32768});
    std::fill_n(min, channels, std::int16_t{32767});
    FoldExtremes(buffer.data(), static_cast<std::uint32_t>(frames * channels),
                 static_cast<std::uint32_t>(channels), max, min);
    for (std::int32_t c = 0; c < channels; ++c) {
        index[static_cast<std::size_t>(entryCount + c)] = {max[c], min[c]};
        peak = std::max<std::int32_t>(peak, max[c]);
    }
    entryCount += channels;
}

void TFilter::Finish(Tindexdata& out) {
    Flush();
    out = index;
    out.resize(out.size() + static_cast<std::size_t>(channels), Tindextype{0, 0});
}

}  // namespace kestrune

#pragma once

// The peak index: one {Max, Min} pair per block of 512 frames and channel, grouped by block and
// interleaved by channel like the samples (entry of block b, channel c = b × channels + c).
// TFilter builds it incrementally while a file is decoded.

#include <cstdint>
#include <vector>

namespace kestrune {

struct Tindextype {
    std::int16_t Max;
    std::int16_t Min;
    bool operator==(const Tindextype&) const = default;
};

using Tindexdata = std::vector<Tindextype>;

constexpr std::uint32_t BlockFrames = 512;
constexpr int MaxIndexChannels = 8;

class TFilter {
  public:
    // 1 … 8 channels.
    explicit TFilter(int channels);
    TFilter(const TFilter&) = delete;
    TFilter& operator=(const TFilter&) = delete;

    // Appends length ÷ 2 interleaved samples (an odd last byte is ignored). A full block is
    // summarised only when the next sample arrives, so the last block waits for Finish.
    void Add(const std::int16_t* samples, std::uint32_t length);
    // Summarises the block being collected, then hands over the index followed by one group of
    // (0, 0) entries.
    void Finish(Tindexdata& out);
    // Largest sample value seen (0 when none is positive); complete after Finish.
    std::int16_t Peak() const noexcept { return static_cast<std::int16_t>(peak); }

  private:
    void Flush();

    std::vector<std::int16_t> buffer;  // channels × 512 samples of the block being collected
    Tindexdata index;
    std::int32_t entryCount = 0;
    std::int32_t channels;
    std::int32_t bufferedCount = 0;
    std::int32_t peak = 0;
};

}  // namespace kestrune

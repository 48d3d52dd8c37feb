#pragma once

// Builds the peak index the way the document's rebuild does: one {Max, Min} group per block of
// 512 frames, Max starting at 0 and Min at 32767, the last group covering the F mod 512 frames
// that are left ((0, 0) when there are none), and no trailing zero group. Fed with the samples in
// frame order, so an operation that writes every sample anyway can build the index on the way
// instead of reading the new file again.

#include <cstdint>

#include "document/TFilter.h"

namespace kestrune {

class TIndexBuilder {
  public:
    // For a document of `frames` frames of `channels` (1 … 8) channels. The first `keptBlocks`
    // groups are taken from `previous` (an index of the same audio up to there, made by either
    // builder), and feeding starts at frame keptBlocks × 512.
    TIndexBuilder(std::uint32_t frames, std::uint32_t channels,
                  const Tindexdata* previous = nullptr, std::uint32_t keptBlocks = 0);

    // Appends `count` interleaved samples, a whole number of frames.
    void Add(const std::int16_t* samples, std::uint32_t count);
    // The frame the next sample belongs to.
    std::uint32_t NextFrame() const noexcept { return nextFrame; }
    // True when every frame has been fed.
    bool Complete() const noexcept { return nextFrame >= frames; }

    // The finished index and its Peak (call when Complete).
    Tindexdata TakeIndex();
    std::int16_t Peak() const noexcept { return static_cast<std::int16_t>(peak); }

  private:
    void CloseBlock();

    std::uint32_t frames;
    std::uint32_t channels;
    Tindexdata index;
    std::uint32_t block = 0;    // the block being collected
    std::uint32_t inBlock = 0;  // its frames so far
    std::uint32_t nextFrame = 0;
    std::int32_t peak = 0;
    std::int16_t max[MaxIndexChannels];
    std::int16_t min[MaxIndexChannels];
};

}  // namespace kestrune

#pragma once

// A decode-only mixer: 32-bit float at 44100 Hz with one or two interleaved channels, fed by one
// TSourceStream. libswresample converts each decoded frame in one pass: to float, resampled with
// the SoX engine at high quality when the rate is not 44100 Hz, and down-mixed with the standard
// matrix when the source has more channels than the mixer (normalised so that a full-scale
// source cannot clip).
//
// Threads: one thread at a time, the same one that uses the source.

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/TSourceStream.h"

struct SwrContext;

namespace kestrune {

class TMixerStream {
  public:
    static constexpr int Rate = 44100;

    // `channels` is 1 or 2. The mixer only uses `source`, which must outlive it; once everything
    // decoded from it has been delivered, the mixer releases it (TSourceStream::Release).
    TMixerStream(TSourceStream& source, int channels);
    ~TMixerStream();
    TMixerStream(const TMixerStream&) = delete;
    TMixerStream& operator=(const TMixerStream&) = delete;

    int Channels() const noexcept { return channels; }

    // Fills `buffer` with up to `bytes` bytes of interleaved float samples, rounded down to
    // whole frames. Returns the bytes delivered: the full request while the source lasts, fewer
    // at its end, and −1 once everything has been delivered (or the source's format cannot be
    // converted).
    int GetData(float* buffer, int bytes);

  private:
    struct SwrDeleter {
        void operator()(SwrContext* p) const noexcept;
    };
    struct InputFormat;

    // Converts the next frame (or, at the end, the resampler's tail) into `pending`. False once
    // nothing more can come.
    bool Refill();
    bool Configure(const struct AVFrame& frame);
    void Drain();
    void Convert(const std::uint8_t* const* data, int samples);
    // Gives `pending` room for `frames` frames and makes it the store of the pending frames.
    void Reserve(std::size_t frames);

    TSourceStream& source;
    int channels;
    std::unique_ptr<SwrContext, SwrDeleter> swr;
    std::unique_ptr<InputFormat> input;  // the format being converted (no `swr`: none needed)
    std::vector<float> pending;          // converted frames
    // The frames not yet delivered: in `pending`, or in the source's current frame when it
    // needs no conversion. pendingRead of pendingFrames are delivered.
    const float* pendingData = nullptr;
    std::size_t pendingFrames = 0;
    std::size_t pendingRead = 0;
    bool finished = false;
};

}  // namespace kestrune

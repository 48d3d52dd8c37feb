#pragma once

// Turns an audio file of any format FFmpeg reads into the working format: a WAV file of 16-bit
// signed PCM at 44100 Hz with one or two channels behind the fixed 44-byte header, feeding every
// block of samples to its peak index on the way and publishing the percentage done.
//
// One decoder serves one load: construct, check IsOpen, Decode once, take the peak index
// (Finish, Peak) and the tags, destroy. Everything runs on the calling thread (the document's
// worker); only the progress value is read by another thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/TMixerStream.h"
#include "codec/TSourceStream.h"
#include "document/TFilter.h"

namespace kestrune {

class TBASSDecoder {
  public:
    // The largest working file: its sizes are 32-bit and its stores address it with signed
    // 32-bit positions.
    static constexpr std::uint32_t MaxFileBytes = 2147483647;
    // Bytes of float data asked of the mixer per pull (1250 stereo or 2500 mono frames).
    static constexpr int PullBytes = 10000;
    static constexpr std::uint32_t HeaderBytes = 44;

    // Opens `sourcePath` for decoding into `outputPath`. Never throws for a source that cannot
    // be read: IsOpen then stays false and nothing else is set up (no output file is made).
    // `maxFileBytes` caps the output file, header included (at least the header's 44 bytes).
    TBASSDecoder(std::string sourcePath, std::string outputPath,
                 std::uint32_t maxFileBytes = MaxFileBytes);
    ~TBASSDecoder();
    TBASSDecoder(const TBASSDecoder&) = delete;
    TBASSDecoder& operator=(const TBASSDecoder&) = delete;

    bool IsOpen() const noexcept { return isOpen; }

    // Writes the complete working file at the output path (created or truncated) and feeds
    // PeakIndex with every block. `progress` goes 0, then the percentage decoded after each
    // pull, then 0 again on return. Returns false, without touching any file, when the source
    // is not open; true otherwise, also for a source without samples (a 44-byte file). A source
    // longer than the file can hold ends at the last whole frame that fits (Truncated).
    // Call at most once. Throws EOSError naming the output file when it cannot be created or
    // written (a full disk); `progress` then keeps its last value.
    bool Decode(std::atomic<std::int32_t>& progress);

    // True when Decode stopped at the file size limit before the source ended.
    bool Truncated() const noexcept { return truncated; }

    // The peak index fed during Decode; the caller Finishes it and reads Peak before the decoder
    // goes. Only while IsOpen (throws std::logic_error otherwise).
    TFilter& PeakIndex();

    // The source's tags as UTF-8, empty when absent.
    const std::string& Title() const noexcept { return title; }
    const std::string& Artist() const noexcept { return artist; }

    // Output format.
    std::uint16_t Channels() const noexcept { return channels; }
    std::uint32_t SampleRate() const noexcept { return sampleRate; }

    // Each float becomes −1 below −1 and for a NaN, 1 from 1 up, and stays otherwise.
    static void ClampSamples(float* samples, std::size_t count) noexcept;
    // Each clamped float x becomes the 16-bit value nearest to x × 32767 (ties to even), so
    // ±1 gives ±32767 and −32768 never occurs.
    static void FloatToPcm16(const float* samples, std::int16_t* out, std::size_t count) noexcept;

  private:
    std::unique_ptr<TSourceStream> source;
    std::unique_ptr<TMixerStream> mixer;
    std::vector<float> floatBuffer;       // PullBytes of float data from one pull
    std::vector<std::int16_t> pcmBuffer;  // the same samples as 16-bit
    std::int32_t lastPull = 0;
    std::uint32_t blockSamples = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 44100;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 16;
    int sourceChannels = 0;
    std::string sourcePath;
    std::string outputPath;
    std::uint32_t maxFileBytes;
    std::unique_ptr<TFilter> peakIndex;
    bool isOpen = false;
    bool truncated = false;
    std::string title;
    std::string artist;
};

}  // namespace kestrune

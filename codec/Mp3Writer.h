#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/EncodedFile.h"
#include "codec/TSampleWriter.h"

namespace kestrune {

// Writes an MP3 file: libavcodec's `libmp3lame` at 192 kbit/s CBR, 44100 Hz, one or two
// channels, through libavformat's mp3 muxer, which puts a Xing/LAME header in front of the
// audio. That header records the encoder delay and the padding, so decoders that read it give
// back exactly the samples written.
//
// Errors: "Unable to open the MP3 encoder" or "Unable to create MP3 file" on construction (no
// file is left); a failing write reads "Could not write the MP3 file: " + the system's text.
// See TSampleWriter.
//
// Not thread-safe: used by one thread.
class Mp3Writer final : public TSampleWriter {
  public:
    static constexpr int SampleRate = 44100;
    static constexpr std::int64_t BitRate = 192000;

    // Creates `path` as given (replacing an existing file); `channels` is 1 or 2.
    Mp3Writer(const std::string& path, int channels);
    ~Mp3Writer() override;
    Mp3Writer(const Mp3Writer&) = delete;
    Mp3Writer& operator=(const Mp3Writer&) = delete;

    void WriteSamples(const std::int16_t* samples, std::uint32_t bytes) override;
    void Finish() override;
    const std::string& OutputPath() const override { return file_.Path(); }

  private:
    void EncodePending(int frames);  // the first `frames` sample frames of pending_

    int channels_;
    std::vector<std::int16_t> pending_;  // one encoder frame of interleaved samples
    std::uint32_t fill_ = 0;             // bytes held in pending_
    int frameLength_ = 0;                // sample frames per encoder frame
    EncodedFile file_;
};

}  // namespace kestrune

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/EncodedFile.h"
#include "codec/TSampleWriter.h"

namespace kestrune {

// The ringtone writer: 16-bit PCM at 44100 Hz, one or two channels, encoded as AAC-LC at
// 128 kbit/s in 1024-sample frames (libavcodec's `libfdk_aac` when the FFmpeg build has it, else
// its native `aac`) and stored in an ".m4r" file: an MPEG-4 file of the iPod/M4A flavour (major
// brand "M4A ", movie time scale 90000) with one audio track of time scale 44100 whose decoder
// configuration is the encoder's AudioSpecificConfig. An edit list hides the encoder delay, so
// the track lasts exactly as many sample frames as were written.
//
// Samples are gathered in an input buffer and encoded a whole frame at a time straight out of
// it; the last partial frame is completed with zeros (its true length still goes to the
// encoder, so the track's duration does not grow).
//
// Errors: construction raises std::runtime_error with "Unable to AAC open encoder", "Unable to
// set the AOT", "Unable to set the sample rate", "Unable to set the channel mode", "Unable to
// set the wav channel order", "Unable to set the bitrate", "Unable to set the ADTS transmux",
// "Unable to set the afterburner mode", "Unable to initialize the encoder", "Unable to get the
// encoder info" or "Unable to create M4R file" (then no file is left). After that, see
// TSampleWriter; a failing write reads "Could not write the ringtone file: " + the system's text.
//
// Not thread-safe: used by one thread.
class AACwriter final : public TSampleWriter {
  public:
    static constexpr std::uint32_t BufferBytes = 705600;  // four seconds of 16-bit stereo
    static constexpr int SampleRate = 44100;
    static constexpr std::int64_t BitRate = 128000;
    static constexpr int MovieTimeScale = 90000;

    // `path` with any extension (it is replaced by ".m4r"); `channels` is 1 or 2. Creates the
    // file, replacing an existing one.
    AACwriter(const std::string& path, int channels);
    ~AACwriter() override;
    AACwriter(const AACwriter&) = delete;
    AACwriter& operator=(const AACwriter&) = delete;

    // Appends `bytes` bytes and encodes every frame that is complete. Any length is accepted;
    // the export passes 8192 bytes per call and a shorter last block.
    void WriteSamples(const std::int16_t* samples, std::uint32_t bytes) override;
    // Encodes the remainder (zero-padded), drains the encoder, writes the index and closes.
    void Finish() override;
    const std::string& OutputPath() const override { return file_.Path(); }

    // The libavcodec encoder in use ("libfdk_aac" or "aac").
    const char* EncoderName() const { return encoderName_; }
    // Interleaved samples per frame: frame length (1024) × channels.
    std::uint32_t FrameSamples() const { return frameSamples_; }

    // `path` with the extension of its file name replaced by ".m4r", or ".m4r" appended when the
    // name has none. Dots in folder names are left alone.
    static std::string M4rPath(const std::string& path);

  private:
    // Encodes the frame of interleaved samples at `samples`, of which the first `frames` sample
    // frames count (the rest pads the last frame).
    void EncodeFrame(const std::int16_t* samples, int frames);

    int channels_;
    const char* encoderName_ = "";
    std::vector<std::int16_t> input_;  // BufferBytes bytes
    std::uint32_t fill_ = 0;           // bytes in input_ short of a whole frame
    std::uint32_t frameSamples_ = 0;
    int frameLength_ = 0;  // sample frames per encoded frame
    EncodedFile file_;
};

}  // namespace kestrune

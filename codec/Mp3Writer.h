#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/TSampleWriter.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

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
    const std::string& OutputPath() const override { return path_; }

  private:
    enum class State { Active, Finished, Failed };

    void EncodePending(int frames);  // the first `frames` sample frames of pending_
    void Encode(AVFrame* frame);     // nullptr drains
    void Check(int result);
    [[noreturn]] void Fail(const std::string& message);

    std::string path_;
    int channels_;
    std::vector<std::int16_t> pending_;  // one encoder frame of interleaved samples
    std::uint32_t fill_ = 0;             // bytes held in pending_
    int frameLength_ = 0;                // sample frames per encoder frame
    std::int64_t pts_ = 0;
    State state_ = State::Failed;
    std::string failure_;

    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> encoder_;
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame_;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet_;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> muxer_;
    AVStream* stream_ = nullptr;  // owned by muxer_
};

}  // namespace kestrune

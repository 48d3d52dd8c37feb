#pragma once

// A decode-only stream on an audio file: FFmpeg finds the format from the file's content, picks
// its best audio stream and decodes it frame by frame. Samples come out in the decoder's own
// sample format; TMixerStream turns them into 32-bit float at 44100 Hz.
//
// Threads: one thread at a time (the loading worker); no shared state between instances.

#include <cstdint>
#include <memory>
#include <string>

struct AVFrame;

namespace kestrune {

class TSourceStream {
  public:
    // Opens `path` for decoding. Returns null when the file cannot be read as audio: missing,
    // not a regular file, no format FFmpeg recognises, no audio stream, no decoder for it, or no
    // usable channel count or rate. Never throws for bad input.
    static std::unique_ptr<TSourceStream> Open(const std::string& path);

    ~TSourceStream();
    TSourceStream(const TSourceStream&) = delete;
    TSourceStream& operator=(const TSourceStream&) = delete;

    // Channel count and sample rate (Hz) of the audio stream as opened. Frames may later differ
    // (a stream that changes format midway); the mixer adapts.
    int Channels() const noexcept { return channels; }
    int SampleRate() const noexcept { return sampleRate; }

    // Length and position for progress, in bytes of the decoded stream as 32-bit float samples
    // (frames × channels × 4). When the container gives no trustworthy duration both are byte
    // counts of the source file instead. Only their ratio is meaningful; Position never exceeds
    // Length. Length is 0 when neither can be known.
    std::int64_t Length() const noexcept { return length; }
    std::int64_t Position() const noexcept { return position; }

    // True until the stream has ended and been released (Release).
    bool IsActive() const noexcept { return active; }

    // The tags as UTF-8, empty when absent: the container's and the stream's metadata under the
    // keys "title" and "artist" (case-insensitive), which FFmpeg fills from ID3v2, ID3v1, APE,
    // Vorbis comments, MP4 and ASF tags.
    const std::string& Title() const noexcept { return title; }
    const std::string& Artist() const noexcept { return artist; }

    // The next decoded frame with at least one sample, or null once the source is exhausted
    // (end of file, or a read error: what decoded so far stands). Corrupt packets are skipped.
    // The frame stays valid until the next call or Release.
    const AVFrame* NextFrame();

    // Frees the demuxer and the decoder; IsActive turns false. Position, Length and the tags
    // keep their values. The mixer calls it once everything decoded has been delivered.
    void Release() noexcept;

  private:
    struct Impl;
    explicit TSourceStream(std::unique_ptr<Impl> impl);

    std::unique_ptr<Impl> impl;
    int channels = 0;
    int sampleRate = 0;
    std::int64_t length = 0;
    std::int64_t position = 0;
    bool active = true;
    std::string title;
    std::string artist;
};

}  // namespace kestrune

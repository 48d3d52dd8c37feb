#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

namespace kestrune {

// An FFmpeg encoder feeding a muxer into one file: what the ringtone and MP3 writers have in
// common. The owner configures and opens Encoder() (avcodec_open2) itself, then calls Open,
// which creates the file; frames then go through WritableFrame and EncodeFrame, and Close
// completes the file.
//
// Life: constructed → Open → EncodeFrame… → Close, or Fail at any point after Open. Fail closes
// and removes the file and leaves the object failed: RaiseIfFailed raises the same message
// again from then on, so a dead writer keeps telling why.
//
// Not thread-safe: used by one thread.
class EncodedFile {
  public:
    // The texts of the owner's failures (string literals: they are kept as pointers).
    struct Messages {
        const char* open;    // no encoder, or no memory for its context, frame or packet
        const char* create;  // the file could not be created or its header written
        const char* write;   // a write failed; the system's text follows
        const char* encode;  // the encoder refused a frame; FFmpeg's text follows
    };

    // Allocates a context for `codec`, a frame and a packet. Raises
    // std::runtime_error(messages.open) when `codec` is null or an allocation fails.
    EncodedFile(const AVCodec* codec, const Messages& messages);
    ~EncodedFile();
    EncodedFile(const EncodedFile&) = delete;
    EncodedFile& operator=(const EncodedFile&) = delete;

    // The encoder's context, for the owner to configure and open before Open.
    AVCodecContext* Encoder() const { return encoder_.get(); }

    // Once the encoder is open (with frame_size > 0): gives the frame buffers for frame_size
    // sample frames in the encoder's format and layout (std::bad_alloc without memory), then
    // creates `path` (replacing an existing file) with the libavformat muxer `format` and writes
    // the header with `muxerOptions`, every one of which the muxer must take. Raises
    // std::runtime_error(messages.create) when the file cannot be made; no file is left then.
    void Open(const char* format, const std::string& path,
              std::initializer_list<std::pair<const char*, std::int64_t>> muxerOptions = {});
    // The file given to Open.
    const std::string& Path() const { return path_; }

    // True from a successful Open until Close or Fail.
    bool IsOpen() const { return state_ == State::Open; }
    // Raises the message of the failure again once Fail has run; does nothing otherwise.
    void RaiseIfFailed() const;

    // The frame, for the owner to fill with the next frame_size sample frames. The encoder has
    // let go of the previous frame by now, so its buffers are kept (std::bad_alloc without
    // memory).
    AVFrame* WritableFrame();
    // Sends the frame's first `frames` sample frames (at most frame_size) to the encoder, timed
    // by the count of sample frames sent before, and writes the packets that come out. Raises
    // the encode or write message.
    void EncodeFrame(int frames);
    // Drains the encoder, writes the trailer and closes the file. Raises the encode or write
    // message; the owner then calls Fail.
    void Close();

    // Closes and removes the file, keeps `message` as the failure and raises it as
    // std::runtime_error.
    [[noreturn]] void Fail(const std::string& message);

  private:
    enum class State { Closed, Open, Failed };  // Closed also before Open

    void Encode(AVFrame* frame);  // nullptr drains
    void Check(int result);       // raises the write message for a negative FFmpeg result
    void CloseAndRemove();

    Messages messages_;
    std::string path_;
    std::int64_t pts_ = 0;  // sample frames sent to the encoder
    State state_ = State::Closed;
    std::string failure_;

    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> encoder_;
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame_;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet_;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> muxer_;
    AVStream* stream_ = nullptr;  // owned by muxer_
};

}  // namespace kestrune

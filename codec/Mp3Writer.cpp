#include "codec/Mp3Writer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

namespace kestrune {

namespace {

constexpr const char* OpenError = "Unable to open the MP3 encoder";
constexpr const char* CreateError = "Unable to create MP3 file";
constexpr const char* WriteError = "Could not write the MP3 file: ";
constexpr const char* EncodeError = "Could not encode the MP3 file: ";

void FreeEncoder(AVCodecContext* c) {
    avcodec_free_context(&c);
}
void FreeFrame(AVFrame* f) {
    av_frame_free(&f);
}
void FreePacket(AVPacket* p) {
    av_packet_free(&p);
}
void FreeMuxer(AVFormatContext* m) {
    if (m->pb) avio_closep(&m->pb);
    avformat_free_context(m);
}

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool Offers(const AVCodec* codec, AVSampleFormat format) {
    if (!codec->sample_fmts) return false;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

}  // namespace

Mp3Writer::Mp3Writer(const std::string& path, int channels)
    : path_(path),
      channels_(channels),
      encoder_(nullptr, FreeEncoder),
      frame_(nullptr, FreeFrame),
      packet_(nullptr, FreePacket),
      muxer_(nullptr, FreeMuxer) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
    if (!codec || (channels != 1 && channels != 2) || !Offers(codec, AV_SAMPLE_FMT_S16P))
        throw std::runtime_error(OpenError);
    encoder_.reset(avcodec_alloc_context3(codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!encoder_ || !frame_ || !packet_) throw std::runtime_error(OpenError);
    AVCodecContext* c = encoder_.get();
    c->sample_fmt = AV_SAMPLE_FMT_S16P;
    c->sample_rate = SampleRate;
    c->time_base = AVRational{1, SampleRate};
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = BitRate;  // constant bit rate: no quality scale, no "abr"
    if (avcodec_open2(c, codec, nullptr) < 0 || c->frame_size <= 0)
        throw std::runtime_error(OpenError);
    frameLength_ = c->frame_size;
    pending_.resize(static_cast<std::size_t>(frameLength_ * channels));

    frame_->format = c->sample_fmt;
    frame_->sample_rate = SampleRate;
    frame_->nb_samples = frameLength_;
    if (av_channel_layout_copy(&frame_->ch_layout, &c->ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0)
        throw std::bad_alloc();

    AVFormatContext* m = nullptr;
    if (avformat_alloc_output_context2(&m, nullptr, "mp3", path_.c_str()) < 0 || !m)
        throw std::runtime_error(CreateError);
    muxer_.reset(m);
    stream_ = avformat_new_stream(m, nullptr);
    if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, c) < 0)
        throw std::runtime_error(CreateError);
    stream_->time_base = c->time_base;
    // "file:" keeps a colon in the name from being read as a protocol.
    if (avio_open(&m->pb, ("file:" + path_).c_str(), AVIO_FLAG_WRITE) < 0)
        throw std::runtime_error(CreateError);
    if (avformat_write_header(m, nullptr) < 0 || m->pb->error < 0) {
        muxer_.reset();
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        throw std::runtime_error(CreateError);
    }
    state_ = State::Active;
}

Mp3Writer::~Mp3Writer() {
    if (state_ != State::Active) return;
    try {
        Finish();
    } catch (...) {
        // Finish has removed the broken file; a destructor has no one to tell.
    }
}

void Mp3Writer::WriteSamples(const std::int16_t* samples, std::uint32_t bytes) {
    if (state_ == State::Failed) throw std::runtime_error(failure_);
    if (state_ != State::Active || bytes == 0) return;
    try {
        const auto* in = reinterpret_cast<const std::uint8_t*>(samples);
        auto* buffer = reinterpret_cast<std::uint8_t*>(pending_.data());
        const auto frameBytes = static_cast<std::uint32_t>(pending_.size() * 2);
        while (bytes > 0) {
            const std::uint32_t n = std::min(bytes, frameBytes - fill_);
            std::memcpy(buffer + fill_, in, n);
            in += n;
            bytes -= n;
            fill_ += n;
            if (fill_ == frameBytes) {
                EncodePending(frameLength_);
                fill_ = 0;
            }
        }
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

void Mp3Writer::Finish() {
    if (state_ == State::Failed) throw std::runtime_error(failure_);
    if (state_ != State::Active) return;
    try {
        if (fill_ > 0) {
            const auto bytesPerFrame = static_cast<std::uint32_t>(2 * channels_);
            const auto frameBytes = static_cast<std::uint32_t>(pending_.size() * 2);
            std::memset(reinterpret_cast<std::uint8_t*>(pending_.data()) + fill_, 0,
                        frameBytes - fill_);
            EncodePending(static_cast<int>((fill_ + bytesPerFrame - 1) / bytesPerFrame));
            fill_ = 0;
        }
        Encode(nullptr);
        Check(av_write_trailer(muxer_.get()));
        Check(avio_closep(&muxer_->pb));
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    state_ = State::Finished;
    muxer_.reset();
    stream_ = nullptr;
}

void Mp3Writer::EncodePending(int frames) {
    AVFrame* f = frame_.get();
    if (av_frame_make_writable(f) < 0) throw std::bad_alloc();
    for (int ch = 0; ch < channels_; ++ch) {
        auto* out = reinterpret_cast<std::int16_t*>(f->data[ch]);
        for (int i = 0; i < frameLength_; ++i) out[i] = pending_[i * channels_ + ch];
    }
    f->nb_samples = frames;
    f->pts = pts_;
    pts_ += frames;
    Encode(f);
}

void Mp3Writer::Encode(AVFrame* frame) {
    AVCodecContext* c = encoder_.get();
    int result = avcodec_send_frame(c, frame);
    if (result < 0) throw std::runtime_error(EncodeError + AvErrorText(result));
    AVPacket* p = packet_.get();
    for (;;) {
        result = avcodec_receive_packet(c, p);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        if (result < 0) throw std::runtime_error(EncodeError + AvErrorText(result));
        av_packet_rescale_ts(p, c->time_base, stream_->time_base);
        p->stream_index = stream_->index;
        result = av_write_frame(muxer_.get(), p);
        av_packet_unref(p);
        Check(result);
    }
}

void Mp3Writer::Check(int result) {
    if (result < 0) throw std::runtime_error(WriteError + AvErrorText(result));
}

void Mp3Writer::Fail(const std::string& message) {
    state_ = State::Failed;
    failure_ = message;
    muxer_.reset();
    stream_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    throw std::runtime_error(failure_);
}

}  // namespace kestrune

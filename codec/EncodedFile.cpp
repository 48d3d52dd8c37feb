#include "codec/EncodedFile.h"

#include <filesystem>
#include <new>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace kestrune {

namespace {

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

}  // namespace

EncodedFile::EncodedFile(const AVCodec* codec, const Messages& messages)
    : messages_(messages),
      encoder_(nullptr, FreeEncoder),
      frame_(nullptr, FreeFrame),
      packet_(nullptr, FreePacket),
      muxer_(nullptr, FreeMuxer) {
    if (codec) encoder_.reset(avcodec_alloc_context3(codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!encoder_ || !frame_ || !packet_) throw std::runtime_error(messages_.open);
}

EncodedFile::~EncodedFile() = default;

void EncodedFile::Open(const char* format, const std::string& path,
                       std::initializer_list<std::pair<const char*, std::int64_t>> muxerOptions) {
    AVCodecContext* c = encoder_.get();
    frame_->format = c->sample_fmt;
    frame_->sample_rate = c->sample_rate;
    frame_->nb_samples = c->frame_size;
    if (av_channel_layout_copy(&frame_->ch_layout, &c->ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0)
        throw std::bad_alloc();

    path_ = path;
    AVFormatContext* m = nullptr;
    if (avformat_alloc_output_context2(&m, nullptr, format, path_.c_str()) < 0 || !m)
        throw std::runtime_error(messages_.create);
    muxer_.reset(m);
    stream_ = avformat_new_stream(m, nullptr);
    if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, c) < 0)
        throw std::runtime_error(messages_.create);
    stream_->time_base = c->time_base;

    // "file:" keeps a colon in the name from being read as a protocol.
    if (avio_open(&m->pb, ("file:" + path_).c_str(), AVIO_FLAG_WRITE) < 0)
        throw std::runtime_error(messages_.create);
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : muxerOptions) av_dict_set_int(&options, key, value, 0);
    const int header = avformat_write_header(m, &options);
    const int unused = av_dict_count(options);
    av_dict_free(&options);
    if (header < 0 || unused > 0 || m->pb->error < 0) {
        CloseAndRemove();
        throw std::runtime_error(messages_.create);
    }
    state_ = State::Open;
}

void EncodedFile::RaiseIfFailed() const {
    if (state_ == State::Failed) throw std::runtime_error(failure_);
}

AVFrame* EncodedFile::WritableFrame() {
    if (av_frame_make_writable(frame_.get()) < 0) throw std::bad_alloc();
    return frame_.get();
}

void EncodedFile::EncodeFrame(int frames) {
    AVFrame* f = frame_.get();
    f->nb_samples = frames;
    f->pts = pts_;
    pts_ += frames;
    Encode(f);
}

void EncodedFile::Close() {
    Encode(nullptr);
    Check(av_write_trailer(muxer_.get()));
    Check(avio_closep(&muxer_->pb));
    state_ = State::Closed;
    muxer_.reset();
    stream_ = nullptr;
}

void EncodedFile::Fail(const std::string& message) {
    state_ = State::Failed;
    failure_ = message;
    CloseAndRemove();
    throw std::runtime_error(failure_);
}

void EncodedFile::Encode(AVFrame* frame) {
    AVCodecContext* c = encoder_.get();
    int result = avcodec_send_frame(c, frame);
    if (result < 0) throw std::runtime_error(messages_.encode + AvErrorText(result));
    AVPacket* p = packet_.get();
    for (;;) {
        result = avcodec_receive_packet(c, p);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        if (result < 0) throw std::runtime_error(messages_.encode + AvErrorText(result));
        // An encoder's delay shows as negative times on the first packets; the MP4 muxer turns
        // them into the edit list that hides it.
        av_packet_rescale_ts(p, c->time_base, stream_->time_base);
        p->stream_index = stream_->index;
        result = av_write_frame(muxer_.get(), p);
        av_packet_unref(p);
        Check(result);
    }
}

void EncodedFile::Check(int result) {
    if (result < 0) throw std::runtime_error(messages_.write + AvErrorText(result));
}

void EncodedFile::CloseAndRemove() {
    muxer_.reset();
    stream_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

}  // namespace kestrune

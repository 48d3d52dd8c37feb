#include "codec/Mp3Writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace kestrune {

namespace {

constexpr const char* OpenError = "Unable to open the MP3 encoder";

constexpr EncodedFile::Messages Mp3Messages{
    .open = OpenError,
    .create = "Unable to create MP3 file",
    .write = "Could not write the MP3 file: ",
    .encode = "Could not encode the MP3 file: ",
};

bool Offers(const AVCodec* codec, AVSampleFormat format) {
    if (!codec->sample_fmts) return false;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

// libmp3lame, for one or two channels of planar 16-bit samples.
const AVCodec* FindEncoder(int channels) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
    if (!codec || (channels != 1 && channels != 2) || !Offers(codec, AV_SAMPLE_FMT_S16P))
        throw std::runtime_error(OpenError);
    return codec;
}

}  // namespace

Mp3Writer::Mp3Writer(const std::string& path, int channels)
    : channels_(channels), file_(FindEncoder(channels), Mp3Messages) {
    AVCodecContext* c = file_.Encoder();
    c->sample_fmt = AV_SAMPLE_FMT_S16P;
    c->sample_rate = SampleRate;
    c->time_base = AVRational{1, SampleRate};
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = BitRate;  // constant bit rate: no quality scale, no "abr"
    if (avcodec_open2(c, c->codec, nullptr) < 0 || c->frame_size <= 0)
        throw std::runtime_error(OpenError);
    frameLength_ = c->frame_size;
    pending_.resize(static_cast<std::size_t>(frameLength_ * channels));

    file_.Open("mp3", path);
}

Mp3Writer::~Mp3Writer() {
    if (!file_.IsOpen()) return;
    try {
        Finish();
    } catch (...) {
        // Finish has removed the broken file; a destructor has no one to tell.
    }
}

void Mp3Writer::WriteSamples(const std::int16_t* samples, std::uint32_t bytes) {
    file_.RaiseIfFailed();
    if (!file_.IsOpen() || bytes == 0) return;
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
        file_.Fail(e.what());
    }
}

void Mp3Writer::Finish() {
    file_.RaiseIfFailed();
    if (!file_.IsOpen()) return;
    try {
        if (fill_ > 0) {
            const auto bytesPerFrame = static_cast<std::uint32_t>(2 * channels_);
            const auto frameBytes = static_cast<std::uint32_t>(pending_.size() * 2);
            std::memset(reinterpret_cast<std::uint8_t*>(pending_.data()) + fill_, 0,
                        frameBytes - fill_);
            EncodePending(static_cast<int>((fill_ + bytesPerFrame - 1) / bytesPerFrame));
            fill_ = 0;
        }
        file_.Close();
    } catch (const std::exception& e) {
        file_.Fail(e.what());
    }
}

void Mp3Writer::EncodePending(int frames) {
    AVFrame* f = file_.WritableFrame();
    for (int ch = 0; ch < channels_; ++ch) {
        auto* out = reinterpret_cast<std::int16_t*>(f->data[ch]);
        for (int i = 0; i < frameLength_; ++i) out[i] = pending_[i * channels_ + ch];
    }
    file_.EncodeFrame(frames);
}

}  // namespace kestrune

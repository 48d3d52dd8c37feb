#include "codec/AACwriter.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace kestrune {

namespace {

constexpr EncodedFile::Messages AacMessages{
    .open = "Unable to AAC open encoder",
    .create = "Unable to create M4R file",
    .write = "Could not write the ringtone file: ",
    .encode = "Could not encode the ringtone: ",
};

// libfdk_aac when the FFmpeg build has it, else the native encoder; null when neither is there.
const AVCodec* FindEncoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libfdk_aac");
    return codec ? codec : avcodec_find_encoder_by_name("aac");
}

bool SupportsRate(const AVCodec* codec, int rate) {
    if (!codec->supported_samplerates) return true;
    for (const int* r = codec->supported_samplerates; *r; ++r)
        if (*r == rate) return true;
    return false;
}

bool SupportsLayout(const AVCodec* codec, const AVChannelLayout& layout) {
    if (!codec->ch_layouts) return true;
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l)
        if (av_channel_layout_compare(l, &layout) == 0) return true;
    return false;
}

// The encoder's input format that the interleaved 16-bit samples are converted to: the first
// one the encoder offers among those the conversion handles.
AVSampleFormat PickSampleFormat(const AVCodec* codec) {
    if (!codec->sample_fmts) return AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        switch (*f) {
            case AV_SAMPLE_FMT_FLTP:
            case AV_SAMPLE_FMT_FLT:
            case AV_SAMPLE_FMT_S16:
            case AV_SAMPLE_FMT_S16P:
                return *f;
            default:
                break;
        }
    }
    return AV_SAMPLE_FMT_NONE;
}

// Converts `frames` interleaved sample frames of `channels` channels into `frame`'s buffers.
void Convert(const std::int16_t* in, int frames, int channels, AVFrame* frame) {
    constexpr float scale = 1.0f / 32768.0f;
    switch (static_cast<AVSampleFormat>(frame->format)) {
        case AV_SAMPLE_FMT_FLTP:
            if (channels == 2) {
                auto* l = reinterpret_cast<float*>(frame->data[0]);
                auto* r = reinterpret_cast<float*>(frame->data[1]);
                for (int i = 0; i < frames; ++i) {
                    l[i] = in[2 * i] * scale;
                    r[i] = in[2 * i + 1] * scale;
                }
            } else {
                auto* m = reinterpret_cast<float*>(frame->data[0]);
                for (int i = 0; i < frames; ++i) m[i] = in[i] * scale;
            }
            break;
        case AV_SAMPLE_FMT_FLT: {
            auto* out = reinterpret_cast<float*>(frame->data[0]);
            for (int i = 0; i < frames * channels; ++i) out[i] = in[i] * scale;
            break;
        }
        case AV_SAMPLE_FMT_S16:
            std::memcpy(frame->data[0], in, sizeof(std::int16_t) * frames * channels);
            break;
        case AV_SAMPLE_FMT_S16P:
            for (int c = 0; c < channels; ++c) {
                auto* out = reinterpret_cast<std::int16_t*>(frame->data[c]);
                for (int i = 0; i < frames; ++i) out[i] = in[i * channels + c];
            }
            break;
        default:
            break;
    }
}

}  // namespace

std::string AACwriter::M4rPath(const std::string& path) {
    return std::filesystem::path(path).replace_extension(".m4r").string();
}

AACwriter::AACwriter(const std::string& path, int channels)
    : channels_(channels), file_(FindEncoder(), AacMessages) {
    input_.resize(BufferBytes / sizeof(std::int16_t));

    AVCodecContext* c = file_.Encoder();
    const AVCodec* codec = c->codec;
    encoderName_ = codec->name;

    if (av_opt_set_int(c, "profile", FF_PROFILE_AAC_LOW, 0) < 0)
        throw std::runtime_error("Unable to set the AOT");

    if (!SupportsRate(codec, SampleRate) || av_opt_set_int(c, "ar", SampleRate, 0) < 0)
        throw std::runtime_error("Unable to set the sample rate");
    c->time_base = AVRational{1, SampleRate};

    AVChannelLayout layout{};
    if (channels == 1 || channels == 2) av_channel_layout_default(&layout, channels);
    if (layout.nb_channels == 0 || !SupportsLayout(codec, layout) ||
        av_opt_set_chlayout(c, "ch_layout", &layout, 0) < 0)
        throw std::runtime_error("Unable to set the channel mode");

    // The input is interleaved in WAV channel order; it is converted frame by frame into the
    // encoder's own layout.
    c->sample_fmt = PickSampleFormat(codec);
    if (c->sample_fmt == AV_SAMPLE_FMT_NONE)
        throw std::runtime_error("Unable to set the wav channel order");

    if (av_opt_set_int(c, "b", BitRate, 0) < 0)
        throw std::runtime_error("Unable to set the bitrate");

    // Raw AAC frames, with the AudioSpecificConfig given once to the container.
    if (av_opt_set(c, "flags", "+global_header", 0) < 0)
        throw std::runtime_error("Unable to set the ADTS transmux");

    // The encoder's most thorough quantisation search: fdk's afterburner, the native encoder's
    // two-loop coder.
    const int quality = std::strcmp(codec->name, "libfdk_aac") == 0
                            ? av_opt_set_int(c->priv_data, "afterburner", 1, 0)
                            : av_opt_set(c->priv_data, "aac_coder", "twoloop", 0);
    if (quality < 0) throw std::runtime_error("Unable to set the afterburner mode");

    if (avcodec_open2(c, codec, nullptr) < 0)
        throw std::runtime_error("Unable to initialize the encoder");

    if (c->frame_size <= 0 || c->frame_size * channels * 2 > static_cast<int>(BufferBytes) ||
        c->extradata_size <= 0)
        throw std::runtime_error("Unable to get the encoder info");
    frameLength_ = c->frame_size;
    frameSamples_ = static_cast<std::uint32_t>(frameLength_ * channels);

    file_.Open("ipod", M4rPath(path), {{"movie_timescale", MovieTimeScale}});
}

AACwriter::~AACwriter() {
    if (!file_.IsOpen()) return;
    try {
        Finish();
    } catch (...) {
        // Finish has removed the broken file; a destructor has no one to tell.
    }
}

void AACwriter::WriteSamples(const std::int16_t* samples, std::uint32_t bytes) {
    file_.RaiseIfFailed();
    if (!file_.IsOpen() || bytes == 0) return;
    try {
        const auto* in = reinterpret_cast<const std::uint8_t*>(samples);
        auto* buffer = reinterpret_cast<std::uint8_t*>(input_.data());
        const std::uint32_t frameBytes = 2 * frameSamples_;
        while (bytes > 0) {
            // fill_ < frameBytes, so every round takes at least BufferBytes - frameBytes bytes.
            const std::uint32_t n = std::min(bytes, BufferBytes - fill_);
            std::memcpy(buffer + fill_, in, n);
            in += n;
            bytes -= n;
            const std::uint32_t total = fill_ + n;
            const std::uint32_t frames = total / frameBytes;
            fill_ = total % frameBytes;
            for (std::uint32_t k = 0; k < frames; ++k)
                EncodeFrame(input_.data() + k * frameSamples_, frameLength_);
            std::memmove(buffer, buffer + frames * frameBytes, fill_);
        }
    } catch (const std::exception& e) {
        file_.Fail(e.what());
    }
}

void AACwriter::Finish() {
    file_.RaiseIfFailed();
    if (!file_.IsOpen()) return;
    try {
        if (fill_ > 0) {
            const std::uint32_t frameBytes = 2 * frameSamples_;
            const std::uint32_t bytesPerFrame = 2 * static_cast<std::uint32_t>(channels_);
            std::memset(reinterpret_cast<std::uint8_t*>(input_.data()) + fill_, 0,
                        frameBytes - fill_);
            EncodeFrame(input_.data(),
                        static_cast<int>((fill_ + bytesPerFrame - 1) / bytesPerFrame));
            fill_ = 0;
        }
        file_.Close();
    } catch (const std::exception& e) {
        file_.Fail(e.what());
    }
}

void AACwriter::EncodeFrame(const std::int16_t* samples, int frames) {
    Convert(samples, frameLength_, channels_, file_.WritableFrame());
    file_.EncodeFrame(frames);
}

}  // namespace kestrune

#include "codec/TMixerStream.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace kestrune {

namespace {

// Room for the resampler's tail, asked for in steps of this many frames.
constexpr int DrainStep = 4096;

// SoX resampler at its high-quality recipe: 20-bit precision, about 120 dB of stop-band
// rejection, beyond what the 16-bit working file can hold.
constexpr double SoxPrecision = 20;
constexpr int SoxCheby = 0;

struct ChannelLayout {
    AVChannelLayout value{};
    ChannelLayout() = default;
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;
    ~ChannelLayout() { av_channel_layout_uninit(&value); }
};

}  // namespace

struct TMixerStream::InputFormat {
    int format = -1;
    int rate = 0;
    ChannelLayout layout;

    bool Matches(const AVFrame& frame) const {
        return frame.format == format && frame.sample_rate == rate &&
               av_channel_layout_compare(&frame.ch_layout, &layout.value) == 0;
    }
};

void TMixerStream::SwrDeleter::operator()(SwrContext* p) const noexcept {
    swr_free(&p);
}

TMixerStream::TMixerStream(TSourceStream& source, int channels)
    : source(source), channels(std::clamp(channels, 1, 2)) {}

TMixerStream::~TMixerStream() = default;

int TMixerStream::GetData(float* buffer, int bytes) {
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(channels);
    const std::size_t wanted = bytes > 0 ? static_cast<std::size_t>(bytes) / frameBytes : 0;
    std::size_t delivered = 0;
    while (delivered < wanted) {
        if (pendingRead < pendingFrames) {
            const std::size_t n = std::min(wanted - delivered, pendingFrames - pendingRead);
            std::copy_n(pendingData + pendingRead * channels, n * channels,
                        buffer + delivered * channels);
            pendingRead += n;
            delivered += n;
            continue;
        }
        pendingRead = pendingFrames = 0;
        pendingData = pending.data();
        if (!Refill()) break;
    }
    const bool exhausted = finished && pendingRead == pendingFrames;
    if (exhausted && source.IsActive()) source.Release();
    if (delivered == 0 && exhausted) return -1;
    return static_cast<int>(delivered * frameBytes);
}

bool TMixerStream::Refill() {
    while (pendingFrames == 0) {
        if (finished) return false;
        const AVFrame* frame = source.NextFrame();
        if (frame == nullptr) {
            Drain();
            finished = true;
            break;
        }
        if (!input || !input->Matches(*frame)) {
            // A new format midway: the old one's tail first, then a converter for the new one.
            Drain();
            if (!Configure(*frame)) {
                finished = true;
                break;
            }
        }
        if (swr) {
            Convert(const_cast<const std::uint8_t* const*>(frame->extended_data),
                    frame->nb_samples);
        } else if (pendingFrames == 0) {
            // Already what the mixer delivers: served from the frame itself.
            pendingData = reinterpret_cast<const float*>(frame->data[0]);
            pendingFrames = static_cast<std::size_t>(frame->nb_samples);
        } else {
            // Behind the tail of a previous format: appended to it.
            const std::size_t samples = static_cast<std::size_t>(frame->nb_samples) * channels;
            Reserve(pendingFrames + static_cast<std::size_t>(frame->nb_samples));
            std::copy_n(reinterpret_cast<const float*>(frame->data[0]), samples,
                        pending.data() + pendingFrames * channels);
            pendingFrames += static_cast<std::size_t>(frame->nb_samples);
        }
    }
    return pendingFrames > 0;
}

void TMixerStream::Reserve(std::size_t frames) {
    if (pending.size() < frames * channels) pending.resize(frames * channels);
    pendingData = pending.data();
}

bool TMixerStream::Configure(const AVFrame& frame) {
    const int inChannels = frame.ch_layout.nb_channels;
    if (frame.format < 0 || frame.sample_rate <= 0 || inChannels <= 0) return false;

    auto format = std::make_unique<InputFormat>();
    format->format = frame.format;
    format->rate = frame.sample_rate;
    if (av_channel_layout_copy(&format->layout.value, &frame.ch_layout) < 0) return false;

    // Without named channels the down-mix has nothing to go by: take the usual layout for the
    // count (5.1 for six channels).
    ChannelLayout in;
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in.value, inChannels);
    else if (av_channel_layout_copy(&in.value, &frame.ch_layout) < 0)
        return false;
    ChannelLayout out;
    av_channel_layout_default(&out.value, channels);

    if (frame.format == AV_SAMPLE_FMT_FLT && frame.sample_rate == Rate &&
        av_channel_layout_compare(&in.value, &out.value) == 0) {
        input = std::move(format);  // nothing to convert
        return true;
    }

    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &out.value, AV_SAMPLE_FMT_FLT, Rate, &in.value,
                            static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0,
                            nullptr) < 0)
        return false;
    std::unique_ptr<SwrContext, SwrDeleter> context(raw);
    av_opt_set_double(raw, "rematrix_maxval", 1.0, 0);
    av_opt_set_int(raw, "resampler", SWR_ENGINE_SOXR, 0);
    av_opt_set_double(raw, "precision", SoxPrecision, 0);
    av_opt_set_int(raw, "cheby", SoxCheby, 0);
    if (swr_init(raw) < 0) {
        // An FFmpeg built without libsoxr: its own engine with a long windowed-sinc filter.
        av_opt_set_int(raw, "resampler", SWR_ENGINE_SWR, 0);
        av_opt_set_int(raw, "filter_size", 128, 0);
        av_opt_set_int(raw, "phase_shift", 14, 0);
        av_opt_set_int(raw, "linear_interp", 1, 0);
        av_opt_set_int(raw, "exact_rational", 1, 0);
        if (swr_init(raw) < 0) return false;
    }
    swr = std::move(context);
    input = std::move(format);
    return true;
}

void TMixerStream::Convert(const std::uint8_t* const* data, int samples) {
    const int room = swr_get_out_samples(swr.get(), samples);
    if (room <= 0) return;
    Reserve(pendingFrames + static_cast<std::size_t>(room));
    std::uint8_t* out[] = {
        reinterpret_cast<std::uint8_t*>(pending.data() + pendingFrames * channels)};
    const int got =
        swr_convert(swr.get(), out, room, const_cast<const std::uint8_t**>(data), samples);
    if (got > 0) pendingFrames += static_cast<std::size_t>(got);
}

void TMixerStream::Drain() {
    input.reset();
    if (!swr) return;
    for (;;) {
        Reserve(pendingFrames + DrainStep);
        std::uint8_t* out[] = {
            reinterpret_cast<std::uint8_t*>(pending.data() + pendingFrames * channels)};
        const int got = swr_convert(swr.get(), out, DrainStep, nullptr, 0);
        if (got <= 0) break;
        pendingFrames += static_cast<std::size_t>(got);
    }
    swr.reset();
}

}  // namespace kestrune

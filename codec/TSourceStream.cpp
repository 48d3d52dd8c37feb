#include "codec/TSourceStream.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace kestrune {

namespace {

// Every packet read moves through the file, so only steps that read nothing can repeat without
// end; after this many in a row the decoder is taken to be stuck and the stream ends.
constexpr int MaxStallsInARow = 1000;

// 0 lets FFmpeg choose. ThreadSanitizer cannot see the synchronisation inside an uninstrumented
// libavcodec and would report its frame threads as races, so that build decodes on one thread.
#if defined(__SANITIZE_THREAD__)
constexpr int DecoderThreads = 1;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int DecoderThreads = 1;
#else
constexpr int DecoderThreads = 0;
#endif
#else
constexpr int DecoderThreads = 0;
#endif

bool IsValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr std::uint32_t Least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < Least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// FFmpeg hands out tags as UTF-8; a container that stores raw 8-bit text gets it through
// unchanged, and such text is taken as Latin-1.
std::string ToUtf8(const std::string& s) {
    if (IsValidUtf8(s)) return s;
    std::string out;
    out.reserve(s.size() * 2);
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Tag(const AVFormatContext& format, const AVStream& stream, const char* key) {
    for (const AVDictionary* d : {format.metadata, stream.metadata}) {
        // Without AV_DICT_MATCH_CASE the look-up ignores case.
        const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
        if (e && e->value && *e->value) return ToUtf8(e->value);
    }
    return {};
}

struct FormatContextDeleter {
    void operator()(AVFormatContext* p) const noexcept { avformat_close_input(&p); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* p) const noexcept { avcodec_free_context(&p); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const noexcept { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* p) const noexcept { av_frame_free(&p); }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* p) const noexcept { av_dict_free(&p); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;

}  // namespace

struct TSourceStream::Impl {
    FormatContextPtr format;
    CodecContextPtr codec;
    PacketPtr packet;
    FramePtr frame;
    int streamIndex = -1;
    bool draining = false;
    bool fileBytes = false;  // progress from the file position rather than decoded frames
    std::int64_t decodedFrames = 0;
};

TSourceStream::TSourceStream(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}

TSourceStream::~TSourceStream() = default;

std::unique_ptr<TSourceStream> TSourceStream::Open(const std::string& path) {
    // Only regular files: a directory cannot be read, and a FIFO or device could block forever.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return nullptr;

    auto impl = std::make_unique<Impl>();
    // The "file:" prefix keeps a name with a colon from being taken for another protocol, and
    // the white list keeps a playlist-like file from reaching anything but local files.
    const std::string url = "file:" + path;
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "protocol_whitelist", "file", 0);
    AVFormatContext* rawFormat = nullptr;
    const int opened = avformat_open_input(&rawFormat, url.c_str(), nullptr, &rawOptions);
    const DictionaryPtr unused(rawOptions);  // the options FFmpeg did not take
    if (opened < 0) return nullptr;          // FFmpeg frees the context on failure
    impl->format.reset(rawFormat);
    AVFormatContext& format = *impl->format;

    // A failure here only means some parameters stay unknown; the checks below decide.
    avformat_find_stream_info(&format, nullptr);

    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(&format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (index < 0 || decoder == nullptr) return nullptr;
    impl->streamIndex = index;
    AVStream& stream = *format.streams[index];
    for (unsigned i = 0; i < format.nb_streams; ++i)
        if (static_cast<int>(i) != index) format.streams[i]->discard = AVDISCARD_ALL;

    impl->codec.reset(avcodec_alloc_context3(decoder));
    if (!impl->codec) return nullptr;
    AVCodecContext& codec = *impl->codec;
    if (avcodec_parameters_to_context(&codec, stream.codecpar) < 0) return nullptr;
    codec.pkt_timebase = stream.time_base;
    codec.request_sample_fmt = AV_SAMPLE_FMT_FLT;
    // Decoders that can work on several frames at once (FLAC, ALAC, WavPack …) decode ahead on
    // FFmpeg's own threads while this thread converts; one thread per core, as FFmpeg chooses.
    codec.thread_count = DecoderThreads;
    codec.thread_type = FF_THREAD_FRAME;
    if (avcodec_open2(&codec, decoder, nullptr) < 0) return nullptr;

    const int channels = codec.ch_layout.nb_channels;
    const int rate = codec.sample_rate;
    if (channels <= 0 || rate <= 0) return nullptr;

    impl->packet.reset(av_packet_alloc());
    impl->frame.reset(av_frame_alloc());
    if (!impl->packet || !impl->frame) return nullptr;

    // Length in decoded bytes from a duration the container states; a duration guessed from
    // the bit rate is too rough, and then the file position serves instead.
    std::int64_t frames = 0;
    if (format.duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        if (stream.duration > 0 && stream.duration != AV_NOPTS_VALUE)
            frames = av_rescale_q(stream.duration, stream.time_base, AVRational{1, rate});
        else if (format.duration > 0 && format.duration != AV_NOPTS_VALUE)
            frames = av_rescale(format.duration, rate, AV_TIME_BASE);
    }
    const std::int64_t frameBytes = static_cast<std::int64_t>(channels) * 4;
    std::int64_t length = 0;
    if (frames > 0 && frames < std::numeric_limits<std::int64_t>::max() / frameBytes) {
        length = frames * frameBytes;
    } else if (format.pb != nullptr) {
        const std::int64_t size = avio_size(format.pb);
        if (size > 0) {
            length = size;
            impl->fileBytes = true;
        }
    }

    std::unique_ptr<TSourceStream> source(new TSourceStream(std::move(impl)));
    source->channels = channels;
    source->sampleRate = rate;
    source->length = length;
    source->title = Tag(format, stream, "title");
    source->artist = Tag(format, stream, "artist");
    return source;
}

const AVFrame* TSourceStream::NextFrame() {
    if (!impl) return nullptr;
    AVCodecContext& codec = *impl->codec;
    AVFrame& frame = *impl->frame;
    AVPacket& packet = *impl->packet;
    av_frame_unref(&frame);
    // Counts the steps in a row that neither read a packet nor gave a frame.
    int stalls = 0;
    while (stalls < MaxStallsInARow) {
        const int received = avcodec_receive_frame(&codec, &frame);
        if (received == 0) {
            if (frame.nb_samples <= 0) {
                av_frame_unref(&frame);
                ++stalls;
                continue;
            }
            impl->decodedFrames += frame.nb_samples;
            if (impl->fileBytes)
                position = std::min(avio_tell(impl->format->pb), length);
            else
                position = std::min(impl->decodedFrames * channels * 4, length);
            return &frame;
        }
        if (received == AVERROR_EOF) break;
        if (received != AVERROR(EAGAIN)) {
            // A frame that failed to decode: the decoder has dropped it.
            if (impl->draining) break;
            ++stalls;
            continue;
        }
        if (impl->draining) break;

        const int read = av_read_frame(impl->format.get(), &packet);
        if (read == AVERROR(EAGAIN)) {
            ++stalls;
            continue;
        }
        if (read < 0) {
            // End of file or a read error: hand the decoder what it still holds.
            impl->draining = true;
            avcodec_send_packet(&codec, nullptr);
            continue;
        }
        stalls = 0;
        // A packet the decoder rejects as corrupt is dropped; decoding goes on with the next.
        if (packet.stream_index == impl->streamIndex) avcodec_send_packet(&codec, &packet);
        av_packet_unref(&packet);
    }
    if (impl->fileBytes) position = length;
    return nullptr;
}

void TSourceStream::Release() noexcept {
    impl.reset();
    active = false;
}

}  // namespace kestrune

#include "tests/codec/EncodedAudio.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <stdexcept>

namespace kestrune::test {

namespace {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Bounds-checked big-endian reads over the file's bytes.
struct Bytes {
    std::vector<std::uint8_t> data;

    void Need(std::size_t at, std::size_t n) const {
        if (at + n > data.size() || at + n < at) throw std::runtime_error("MP4 box overruns");
    }
    std::uint64_t Be(std::size_t at, int n) const {
        Need(at, static_cast<std::size_t>(n));
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | data[at + i];
        return v;
    }
    std::string Fourcc(std::size_t at) const {
        Need(at, 4);
        return std::string(reinterpret_cast<const char*>(&data[at]), 4);
    }
};

struct Box {
    std::string type;
    std::size_t begin = 0;  // first byte of the content
    std::size_t end = 0;    // one past the last byte
};

std::vector<Box> Children(const Bytes& b, std::size_t begin, std::size_t end) {
    std::vector<Box> boxes;
    for (std::size_t at = begin; at + 8 <= end;) {
        std::uint64_t size = b.Be(at, 4);
        std::size_t header = 8;
        if (size == 1) {
            size = b.Be(at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || at + size > end) throw std::runtime_error("MP4 box size is wrong");
        boxes.push_back({b.Fourcc(at + 4), at + header, at + static_cast<std::size_t>(size)});
        at += static_cast<std::size_t>(size);
    }
    return boxes;
}

std::optional<Box> Child(const Bytes& b, const Box& parent, const std::string& type,
                         std::size_t skip = 0) {
    for (const Box& c : Children(b, parent.begin + skip, parent.end))
        if (c.type == type) return c;
    return std::nullopt;
}

// An MPEG-4 descriptor length: up to four bytes of seven bits each.
std::size_t DescriptorLength(const Bytes& b, std::size_t& at) {
    std::size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::size_t>(b.Be(at++, 1));
        length = length << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) break;
    }
    return length;
}

void ReadEsds(const Bytes& b, const Box& esds, Mp4Facts& facts) {
    std::size_t at = esds.begin + 4;  // version and flags
    if (b.Be(at++, 1) != 0x03) throw std::runtime_error("esds lacks its ES_Descriptor");
    DescriptorLength(b, at);
    at += 2;  // ES_ID
    const auto flags = b.Be(at++, 1);
    if (flags & 0x80) at += 2;
    if (flags & 0x40) at += 1 + static_cast<std::size_t>(b.Be(at, 1));
    if (flags & 0x20) at += 2;
    if (b.Be(at++, 1) != 0x04) throw std::runtime_error("esds lacks its DecoderConfigDescriptor");
    DescriptorLength(b, at);
    facts.objectType = static_cast<int>(b.Be(at, 1));
    at += 13;  // object type, stream type, buffer size, maximum and average bit rate
    if (b.Be(at++, 1) != 0x05) throw std::runtime_error("esds lacks its DecoderSpecificInfo");
    const std::size_t n = DescriptorLength(b, at);
    b.Need(at, n);
    facts.audioSpecificConfig.assign(b.data.begin() + static_cast<std::ptrdiff_t>(at),
                                     b.data.begin() + static_cast<std::ptrdiff_t>(at + n));
}

void ReadTrack(const Bytes& b, const Box& trak, Mp4Facts& facts) {
    const auto mdia = Child(b, trak, "mdia");
    if (!mdia) throw std::runtime_error("trak lacks mdia");
    if (const auto mdhd = Child(b, *mdia, "mdhd")) {
        const bool v1 = b.Be(mdhd->begin, 1) == 1;
        facts.trackTimeScale = static_cast<std::uint32_t>(b.Be(mdhd->begin + (v1 ? 20 : 12), 4));
        facts.mediaDuration = b.Be(mdhd->begin + (v1 ? 24 : 16), v1 ? 8 : 4);
    }
    if (const auto hdlr = Child(b, *mdia, "hdlr")) facts.handler = b.Fourcc(hdlr->begin + 8);
    if (const auto edts = Child(b, trak, "edts")) {
        if (const auto elst = Child(b, *edts, "elst")) {
            const bool v1 = b.Be(elst->begin, 1) == 1;
            const auto count = b.Be(elst->begin + 4, 4);
            std::size_t at = elst->begin + 8;
            for (std::uint64_t i = 0; i < count; ++i) {
                const int n = v1 ? 8 : 4;
                const auto duration = b.Be(at, n);
                auto media = static_cast<std::int64_t>(b.Be(at + n, n));
                if (!v1) media = static_cast<std::int32_t>(media);
                facts.edits.emplace_back(duration, media);
                at += 2 * n + 4;
            }
        }
    }
    auto minf = Child(b, *mdia, "minf");
    auto stbl = minf ? Child(b, *minf, "stbl") : std::nullopt;
    auto stsd = stbl ? Child(b, *stbl, "stsd") : std::nullopt;
    auto mp4a = stsd ? Child(b, *stsd, "mp4a", 8) : std::nullopt;
    auto esds = mp4a ? Child(b, *mp4a, "esds", 28) : std::nullopt;
    if (esds) ReadEsds(b, *esds, facts);
}

}  // namespace

std::vector<std::int16_t> MusicLike(std::uint32_t frames, int channels) {
    constexpr double rate = 44100, step = 0.4, length = 1.2;
    constexpr double notes[] = {220.0, 246.94, 261.63, 293.66, 329.63, 392.0, 440.0, 523.25};
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * channels);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = i / rate;
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            const int last = static_cast<int>(t / step);
            for (int k = std::max(0, last - 2); k <= last; ++k) {
                const double u = t - k * step;
                if (u < 0 || u >= length) continue;
                const double f = notes[(k * (c == 0 ? 1 : 3) + 2 * c) % 8];
                const double envelope = (1 - std::exp(-u / 0.01)) * std::exp(-u / 0.3);
                for (int h = 1; h <= 5; ++h)
                    v += envelope * 0.6 / h * std::sin(2 * std::numbers::pi * h * f * u + h + c);
            }
            out[static_cast<std::size_t>(i) * channels + c] = static_cast<std::int16_t>(6000 * v);
        }
    }
    return out;
}

void Feed(TSampleWriter& writer, const std::vector<std::int16_t>& samples,
          std::uint32_t blockBytes) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
    const std::size_t total = samples.size() * 2;
    std::size_t at = 0;
    for (; at + blockBytes <= total; at += blockBytes)
        writer.WriteSamples(reinterpret_cast<const std::int16_t*>(bytes + at), blockBytes);
    writer.WriteSamples(reinterpret_cast<const std::int16_t*>(bytes + at),
                        static_cast<std::uint32_t>(total - at));
    writer.WriteSamples(samples.data(), 0);
}

std::string Run(const std::string& command, int* status) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        out.append(buffer, n);
    const int raw = ::pclose(pipe.release());
    if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::optional<std::vector<std::int16_t>> DecodeWithFfmpeg(const std::string& path, int channels) {
    int status = 0;
    const std::string pcm = Run("ffmpeg -nostdin -v error -i " + Quote(path) +
                                    " -f s16le -ar 44100 -ac " + std::to_string(channels) + " -",
                                &status);
    if (status != 0) return std::nullopt;
    std::vector<std::int16_t> samples(pcm.size() / 2);
    std::copy_n(pcm.data(), samples.size() * 2, reinterpret_cast<char*>(samples.data()));
    return samples;
}

std::optional<std::vector<std::int16_t>> DecodeWithFaad(const std::string& path,
                                                        const std::string& scratch, int channels) {
    int status = 0;
    Run("faad -q -b 1 -o " + Quote(scratch) + " " + Quote(path) + " 2>/dev/null", &status);
    if (status != 0) return std::nullopt;
    // A plain PCM WAV file: the channel count from "fmt ", the samples from "data".
    Bytes wav;
    std::ifstream in(scratch, std::ios::binary);
    wav.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    int decodedChannels = 0;
    std::vector<std::int16_t> samples;
    for (std::size_t at = 12; at + 8 <= wav.data.size();) {
        const std::string id = wav.Fourcc(at);
        const std::size_t size = wav.data[at + 4] | wav.data[at + 5] << 8 | wav.data[at + 6] << 16 |
                                 std::size_t{wav.data[at + 7]} << 24;
        const std::size_t body = at + 8, n = std::min(size, wav.data.size() - body);
        if (id == "fmt " && n >= 4) decodedChannels = wav.data[body + 2] | wav.data[body + 3] << 8;
        if (id == "data") {
            samples.resize(n / 2);
            std::copy_n(wav.data.data() + body, samples.size() * 2,
                        reinterpret_cast<std::uint8_t*>(samples.data()));
        }
        at = body + size + (size & 1);
    }
    if (decodedChannels == channels) return samples;
    if (channels != 1 || decodedChannels != 2) return std::nullopt;
    std::vector<std::int16_t> mono(samples.size() / 2);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        if (samples[2 * i] != samples[2 * i + 1]) return std::nullopt;
        mono[i] = samples[2 * i];
    }
    return mono;
}

std::map<std::string, std::string> Probe(const std::string& path) {
    int status = 0;
    const std::string text =
        Run("ffprobe -v error -select_streams a:0 -show_streams -show_format "
            "-of flat " +
                Quote(path),
            &status);
    std::map<std::string, std::string> keys;
    if (status != 0) return keys;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t eol = text.find('\n', at);
        if (eol == std::string::npos) eol = text.size();
        const std::string line = text.substr(at, eol - at);
        at = eol + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        for (const std::string prefix : {"streams.stream.0.", "format.tags.", "format."}) {
            if (key.rfind(prefix, 0) == 0) {
                key = (prefix == "streams.stream.0." ? "" : "format.") + key.substr(prefix.size());
                break;
            }
        }
        keys[key] = value;
    }
    return keys;
}

double AlignedCorrelation(const std::vector<std::int16_t>& source,
                          const std::vector<std::int16_t>& decoded, int channels, int maxLag,
                          int* lag) {
    const auto sourceFrames = static_cast<std::int64_t>(source.size() / channels);
    const auto decodedFrames = static_cast<std::int64_t>(decoded.size() / channels);
    // Correlation over source frames [from, from + count) against decoded frames shifted by d.
    auto correlate = [&](std::int64_t d, std::int64_t from, std::int64_t count) {
        double xy = 0, xx = 0, yy = 0;
        const std::int64_t lo = std::max(from, -d);
        const std::int64_t hi = std::min(from + count, decodedFrames - d);
        for (std::int64_t i = lo; i < hi; ++i) {
            for (int c = 0; c < channels; ++c) {
                const double x = source[i * channels + c], y = decoded[(i + d) * channels + c];
                xy += x * y;
                xx += x * x;
                yy += y * y;
            }
        }
        return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    };
    const std::int64_t probe = std::min<std::int64_t>(sourceFrames, 8192);
    const std::int64_t from = (sourceFrames - probe) / 2;
    int best = 0;
    double bestValue = -2;
    for (int d = -maxLag; d <= maxLag; ++d) {
        const double v = correlate(d, from, probe);
        if (v > bestValue) {
            bestValue = v;
            best = d;
        }
    }
    if (lag) *lag = best;
    return correlate(best, 0, sourceFrames);
}

Mp4Facts ReadMp4(const std::string& path) {
    Bytes b;
    std::ifstream in(path, std::ios::binary);
    b.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    Mp4Facts facts;
    const Box file{"", 0, b.data.size()};
    if (const auto ftyp = Child(b, file, "ftyp")) facts.majorBrand = b.Fourcc(ftyp->begin);
    const auto moov = Child(b, file, "moov");
    if (!moov) throw std::runtime_error("no moov box");
    if (const auto mvhd = Child(b, *moov, "mvhd")) {
        const bool v1 = b.Be(mvhd->begin, 1) == 1;
        facts.movieTimeScale = static_cast<std::uint32_t>(b.Be(mvhd->begin + (v1 ? 20 : 12), 4));
    }
    for (const Box& c : Children(b, moov->begin, moov->end)) {
        if (c.type != "trak") continue;
        if (facts.tracks++ == 0) ReadTrack(b, c, facts);
    }
    return facts;
}

}  // namespace kestrune::test

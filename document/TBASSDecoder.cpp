#include "document/TBASSDecoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cstring>
#include <stdexcept>

#include "platform/OsError.h"

namespace kestrune {

namespace {

// The rounding in FloatToPcm16 relies on doubles being computed in double precision.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not use extended precision");

constexpr std::size_t FloatBufferSamples = 10000;
constexpr std::size_t PcmBufferSamples = 10000;

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The working file, written through one buffer. Every failure raises EOSError naming the file.
class WorkFileWriter {
  public:
    explicit WorkFileWriter(const std::string& path) : path(path), buffer(BufferBytes) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) RaiseLastOSError(path);
    }
    ~WorkFileWriter() {
        if (fd >= 0) ::close(fd);
    }
    WorkFileWriter(const WorkFileWriter&) = delete;
    WorkFileWriter& operator=(const WorkFileWriter&) = delete;

    void Append(const void* data, std::size_t n) {
        if (used + n > buffer.size()) Flush();
        if (n > buffer.size()) {
            WriteAll(static_cast<const std::uint8_t*>(data), n);
            return;
        }
        std::memcpy(buffer.data() + used, data, n);
        used += n;
    }

    // Writes what is buffered, stores each 32-bit value at its offset, and closes the file.
    void FinishWith(std::initializer_list<std::pair<off_t, std::uint32_t>> patches) {
        Flush();
        for (const auto& [offset, value] : patches) {
            std::uint8_t bytes[4];
            Put32(bytes, value);
            std::size_t done = 0;
            while (done < sizeof bytes) {
                const ssize_t n = ::pwrite(fd, bytes + done, sizeof bytes - done,
                                           offset + static_cast<off_t>(done));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) RaiseLastOSError(path);
                if (n == 0) RaiseOSError(ENOSPC, path);
                done += static_cast<std::size_t>(n);
            }
        }
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0 && errno != EINTR) RaiseLastOSError(path);
    }

  private:
    static constexpr std::size_t BufferBytes = 256 * 1024;

    void Flush() {
        WriteAll(buffer.data(), used);
        used = 0;
    }

    void WriteAll(const std::uint8_t* data, std::size_t n) {
        while (n > 0) {
            const ssize_t written = ::write(fd, data, n);
            if (written < 0 && errno == EINTR) continue;
            if (written < 0) RaiseLastOSError(path);
            // A regular file takes no bytes only when the disk is full.
            if (written == 0) RaiseOSError(ENOSPC, path);
            data += written;
            n -= static_cast<std::size_t>(written);
        }
    }

    std::string path;
    int fd = -1;
    std::vector<std::uint8_t> buffer;
    std::size_t used = 0;
};

}  // namespace

TBASSDecoder::TBASSDecoder(std::string sourcePath, std::string outputPath,
                           std::uint32_t maxFileBytes)
    : sourcePath(std::move(sourcePath)),
      outputPath(std::move(outputPath)),
      maxFileBytes(std::max(maxFileBytes, HeaderBytes)) {
    floatBuffer.resize(FloatBufferSamples);
    pcmBuffer.resize(PcmBufferSamples);

    source = TSourceStream::Open(this->sourcePath);
    if (!source) return;
    sourceChannels = source->Channels();

    channels = static_cast<std::uint16_t>(std::min(sourceChannels, 2));
    sampleRate = TMixerStream::Rate;
    bitsPerSample = 16;
    blockAlign = static_cast<std::uint16_t>(channels * 2);
    byteRate = sampleRate * blockAlign;

    peakIndex = std::make_unique<TFilter>(channels);
    title = source->Title();
    artist = source->Artist();
    isOpen = true;

    mixer = std::make_unique<TMixerStream>(*source, channels);
}

TBASSDecoder::~TBASSDecoder() = default;

TFilter& TBASSDecoder::PeakIndex() {
    if (!peakIndex) throw std::logic_error("the decoder has no peak index: the source is not open");
    return *peakIndex;
}

bool TBASSDecoder::Decode(std::atomic<std::int32_t>& progress) {
    progress.store(0, std::memory_order_relaxed);
    if (!source) return false;

    WorkFileWriter out(outputPath);
    const std::int64_t length = source->Length();

    std::uint8_t header[HeaderBytes] = {};
    std::memcpy(&header[0], "RIFF", 4);
    std::memcpy(&header[8], "WAVEfmt ", 8);
    Put32(&header[16], 16);
    Put16(&header[20], 1);
    Put16(&header[22], channels);
    Put32(&header[24], sampleRate);
    Put32(&header[28], byteRate);
    Put16(&header[32], blockAlign);
    Put16(&header[34], bitsPerSample);
    std::memcpy(&header[36], "data", 4);
    out.Append(header, HeaderBytes);

    // Room for samples, in whole frames.
    const std::uint32_t maxData = (maxFileBytes - HeaderBytes) / blockAlign * blockAlign;
    std::uint32_t dataBytes = 0;

    lastPull = 1;
    while (source->IsActive() && lastPull > 0) {
        lastPull = mixer->GetData(floatBuffer.data(), PullBytes);
        if (lastPull > 0) {
            blockSamples = static_cast<std::uint32_t>(lastPull) / 4;
            ClampSamples(floatBuffer.data(), blockSamples);
            FloatToPcm16(floatBuffer.data(), pcmBuffer.data(), blockSamples);
            std::uint32_t bytes = 2 * blockSamples;
            if (bytes > maxData - dataBytes) {
                bytes = maxData - dataBytes;
                truncated = true;
            }
            if (bytes > 0) {
                out.Append(pcmBuffer.data(), bytes);
                peakIndex->Add(pcmBuffer.data(), bytes);
                dataBytes += bytes;
            }
        }
        if (length > 0) {
            const double done =
                static_cast<double>(source->Position()) / static_cast<double>(length);
            progress.store(static_cast<std::int32_t>(done * 100), std::memory_order_relaxed);
        }
        if (truncated) break;
    }

    const std::uint32_t fileBytes = HeaderBytes + dataBytes;
    out.FinishWith({{4, fileBytes - 8}, {40, fileBytes - HeaderBytes}});
    progress.store(0, std::memory_order_relaxed);
    return true;
}

namespace {

// The per-sample steps, applied in runs of a fixed length so that the compiler turns each run
// into vector instructions.
constexpr std::size_t Run = 8;

inline float Clamp(float x) noexcept {
    // A NaN fails both comparisons and so becomes −1.
    return x >= 1.0f ? 1.0f : (x >= -1.0f ? x : -1.0f);
}

inline std::int16_t ToPcm16(float x) noexcept {
    // Adding and taking away 1.5 × 2^52 leaves a double of magnitude below 2^51 rounded to an
    // integer in the current (nearest, ties to even) rounding mode.
    constexpr double RoundingShift = 6755399441055744.0;
    const double scaled = static_cast<double>(x) * 32767.0;
    const double rounded = (scaled + RoundingShift) - RoundingShift;
    return static_cast<std::int16_t>(static_cast<std::int32_t>(rounded));
}

}  // namespace

void TBASSDecoder::ClampSamples(float* samples, std::size_t count) noexcept {
    std::size_t i = 0;
    for (; i + Run <= count; i += Run)
        for (std::size_t k = 0; k < Run; ++k) samples[i + k] = Clamp(samples[i + k]);
    for (; i < count; ++i) samples[i] = Clamp(samples[i]);
}

void TBASSDecoder::FloatToPcm16(const float* samples, std::int16_t* out,
                                std::size_t count) noexcept {
    std::size_t i = 0;
    for (; i + Run <= count; i += Run)
        for (std::size_t k = 0; k < Run; ++k) out[i + k] = ToPcm16(samples[i + k]);
    for (; i < count; ++i) out[i] = ToPcm16(samples[i]);
}

}  // namespace kestrune

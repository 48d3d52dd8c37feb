#include "document/ClipboardWave.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace kestrune {

static_assert(std::endian::native == std::endian::little, "the wave samples are little-endian");

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// The PCM sub-format GUID 00000001-0000-0010-8000-00aa00389b71 as a format chunk stores it
// (its first three fields little-endian).
constexpr std::array<std::uint8_t, 16> kPcmSubFormat = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kPcmFormatSize = 16;
constexpr std::size_t kExtensibleFormatSize = 40;
constexpr std::size_t kSubFormatOffset = 24;

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Get32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
std::int16_t GetSample(const std::uint8_t* p) {
    return static_cast<std::int16_t>(Get16(p));
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
bool IsId(const std::uint8_t* p, const char (&id)[5]) {
    return std::memcmp(p, id, 4) == 0;
}

// (a + b) ÷ 2 rounded half to even; always within the 16-bit range.
std::int16_t Mean(std::int16_t a, std::int16_t b) {
    const std::int32_t sum = std::int32_t{a} + b;
    std::int32_t half = sum >> 1;  // floor
    if ((sum & 1) != 0 && (half & 1) != 0) ++half;
    return static_cast<std::int16_t>(half);
}

struct Chunk {
    const std::uint8_t* body = nullptr;
    std::uint32_t size = 0;
};

}  // namespace

std::vector<std::uint8_t> BuildClipboardWave(const std::uint8_t* documentHeader,
                                             std::uint16_t channels, std::uint32_t frames) {
    static constexpr const char* kNoMemory = "Could not allocate memory for clipboard.";
    const std::uint64_t dataBytes = std::uint64_t{frames} * channels * 2;
    if (dataBytes + ClipboardWaveHeaderSize > std::numeric_limits<std::uint32_t>::max())
        throw std::runtime_error(kNoMemory);
    std::vector<std::uint8_t> block;
    try {
        block.resize(ClipboardWaveHeaderSize + dataBytes);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error(kNoMemory);
    }
    std::memcpy(block.data(), documentHeader, ClipboardWaveHeaderSize);
    Put32(&block[4], static_cast<std::uint32_t>(dataBytes + 36));
    Put32(&block[40], static_cast<std::uint32_t>(dataBytes));
    return block;
}

std::int16_t* ClipboardWaveSamples(std::vector<std::uint8_t>& block) {
    // The vector's storage comes from operator new, and 44 is even.
    return reinterpret_cast<std::int16_t*>(block.data() + ClipboardWaveHeaderSize);
}

std::optional<TPasteAudio> ParseClipboardWave(std::span<const std::uint8_t> block,
                                              std::uint16_t documentChannels) {
    if (documentChannels != 1 && documentChannels != 2)
        throw std::invalid_argument("a document has one or two channels");

    const std::uint8_t* const base = block.data();
    const std::uint64_t size = block.size();
    if (size < 12 || !IsId(base, "RIFF") || !IsId(base + 8, "WAVE")) return std::nullopt;

    std::optional<Chunk> format;
    std::optional<Chunk> data;
    for (std::uint64_t at = 12; at + kChunkHeaderSize <= size && !(format && data);) {
        const std::uint32_t bodySize = Get32(base + at + 4);
        const std::uint64_t body = at + kChunkHeaderSize;
        if (bodySize > size - body) return std::nullopt;
        const Chunk chunk{base + body, bodySize};
        if (!format && IsId(base + at, "fmt ")) format = chunk;
        if (!data && IsId(base + at, "data")) data = chunk;
        at = body + bodySize + (bodySize & 1u);
    }
    if (!format || !data || format->size < kPcmFormatSize) return std::nullopt;

    const std::uint8_t* const fmt = format->body;
    const std::uint16_t tag = Get16(fmt);
    const std::uint16_t channels = Get16(fmt + 2);
    const std::uint16_t blockAlign = Get16(fmt + 12);
    const std::uint16_t bits = Get16(fmt + 14);
    if (tag == kFormatExtensible) {
        if (format->size < kExtensibleFormatSize ||
            std::memcmp(fmt + kSubFormatOffset, kPcmSubFormat.data(), kPcmSubFormat.size()) != 0)
            return std::nullopt;
    } else if (tag != kFormatPcm) {
        return std::nullopt;
    }
    if (channels == 0 || bits != 16 || blockAlign != std::uint32_t{channels} * 2)
        return std::nullopt;

    TPasteAudio audio;
    audio.frames = data->size / blockAlign;
    audio.samples.resize(std::size_t{audio.frames} * documentChannels);
    if (audio.frames == 0) return audio;

    const std::uint8_t* in = data->body;
    std::int16_t* out = audio.samples.data();
    if (channels == documentChannels) {
        std::memcpy(out, in, std::size_t{audio.frames} * blockAlign);
    } else if (documentChannels == 2) {
        for (std::uint32_t f = 0; f < audio.frames; ++f, in += blockAlign) {
            const std::int16_t left = GetSample(in);
            *out++ = left;
            *out++ = channels == 1 ? left : GetSample(in + 2);
        }
    } else {
        for (std::uint32_t f = 0; f < audio.frames; ++f, in += blockAlign)
            *out++ = Mean(GetSample(in), GetSample(in + 2));
    }
    return audio;
}

}  // namespace kestrune

#include "document/ClipboardWave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}
void Append16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Append32(Bytes& b, std::uint32_t v) {
    Append16(b, static_cast<std::uint16_t>(v));
    Append16(b, static_cast<std::uint16_t>(v >> 16));
}
Bytes SampleBytes(const Samples& s) {
    Bytes b;
    for (auto v : s) Append16(b, static_cast<std::uint16_t>(v));
    return b;
}

// One chunk: id, declared size (the body's length unless given), body, pad byte if odd.
Bytes Chunk(const char* id, const Bytes& body, std::optional<std::uint32_t> declared = {}) {
    Bytes b(id, id + 4);
    Append32(b, declared.value_or(static_cast<std::uint32_t>(body.size())));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) b.push_back(0);
    return b;
}
Bytes Riff(const std::vector<Bytes>& chunks) {
    Bytes b{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const auto& c : chunks) b.insert(b.end(), c.begin(), c.end());
    const auto riff = static_cast<std::uint32_t>(b.size() - 8);
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
    return b;
}

const Bytes kPcmGuid = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const Bytes kFloatGuid = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct Fmt {
    std::uint16_t tag = 1;
    std::uint16_t channels = 2;
    std::uint16_t bits = 16;
    std::uint16_t blockAlign = 0;      // 0: channels × bits ÷ 8
    const Bytes* subFormat = nullptr;  // extensible: the 22 extra bytes end with it
    bool cbSize = false;               // plain PCM with an 18-byte chunk
};
Bytes FmtBody(const Fmt& f) {
    Bytes b;
    Append16(b, f.tag);
    Append16(b, f.channels);
    Append32(b, 22050);  // the rate is not looked at
    const std::uint16_t align = f.blockAlign != 0 ? f.blockAlign : f.channels * f.bits / 8;
    Append32(b, 22050u * align);
    Append16(b, align);
    Append16(b, f.bits);
    if (f.subFormat != nullptr) {
        Append16(b, 22);
        Append16(b, f.bits);  // valid bits
        Append32(b, 3);       // channel mask
        b.insert(b.end(), f.subFormat->begin(), f.subFormat->end());
    } else if (f.cbSize) {
        Append16(b, 0);
    }
    return b;
}

Bytes Canonical(std::uint16_t channels, const Samples& s) {
    Bytes b = test::WavHeader(channels, static_cast<std::uint32_t>(2 * s.size()));
    const Bytes data = SampleBytes(s);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(ClipboardWave, BuildsTheDocumentHeaderWithTheRangesSizes) {
    struct Case {
        std::uint16_t channels;
        std::uint32_t frames;
        std::size_t blockSize;
        std::uint32_t riff, data;
    };
    for (const Case& c : {Case{2, 44100, 176444, 176436, 176400}, Case{2, 0, 44, 36, 0},
                          Case{1, 44100, 88244, 88236, 88200}, Case{1, 1, 46, 38, 2}}) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, " << c.frames << " frames");
        // The document's own sizes differ from the range's; only those two fields may change.
        const Bytes header = test::WavHeader(c.channels, 1'000'000);
        const Bytes block = BuildClipboardWave(header.data(), c.channels, c.frames);
        ASSERT_EQ(block.size(), c.blockSize);
        EXPECT_EQ(Get32(block, 4), c.riff);
        EXPECT_EQ(Get32(block, 40), c.data);
        Bytes expected = header;
        std::memcpy(&expected[4], &block[4], 4);
        std::memcpy(&expected[40], &block[40], 4);
        EXPECT_EQ(Bytes(block.begin(), block.begin() + 44), expected);
        EXPECT_EQ(std::count(block.begin() + 44, block.end(), 0), block.end() - block.begin() - 44);
    }
}

TEST(ClipboardWave, BlockBeyond32BitsIsAnAllocationFailure) {
    const Bytes header = test::WavHeader(2, 0);
    try {
        BuildClipboardWave(header.data(), 2, 0x4000'0000);  // 2^32 data bytes
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Could not allocate memory for clipboard.");
    }
}

TEST(ClipboardWave, BuiltBlockParsesBackToTheSamplesWrittenIntoIt) {
    for (std::uint16_t channels : {1, 2}) {
        const Samples s = {0, 1, -1, 32767, -32768, 12345, -2222, 7};
        const auto frames = static_cast<std::uint32_t>(s.size() / channels);
        const Bytes header = test::WavHeader(channels, 0);
        Bytes block = BuildClipboardWave(header.data(), channels, frames);
        std::memcpy(ClipboardWaveSamples(block), s.data(), 2ull * frames * channels);
        const auto audio = ParseClipboardWave(block, channels);
        ASSERT_TRUE(audio) << channels;
        EXPECT_EQ(audio->frames, frames);
        EXPECT_EQ(audio->samples, Samples(s.begin(), s.begin() + frames * channels));
    }
}

TEST(ClipboardWave, FindsFormatAndDataAmongOtherChunks) {
    const Samples s = {100, -100, 200, -200, 32767, -32768};  // three stereo frames
    const Bytes data = SampleBytes(s);
    const Bytes fmt = FmtBody({});
    Bytes dataPlusOne = data;
    dataPlusOne.push_back(0x7F);  // odd size: a stray byte (and a pad byte)
    Bytes dataPlusThree = dataPlusOne;
    dataPlusThree.insert(dataPlusThree.end(), {0x11, 0x22});
    struct Case {
        const char* name;
        Bytes block;
    };
    const std::vector<Case> cases = {
        {"canonical", Canonical(2, s)},
        {"LIST, fact and an odd-sized chunk before data",
         Riff({Chunk("fmt ", fmt), Chunk("LIST", Bytes(26, 'x')), Chunk("fact", {3, 0, 0, 0}),
               Chunk("junk", {1, 2, 3}), Chunk("data", data)})},
        {"odd-sized chunk before fmt",
         Riff({Chunk("bext", {9}), Chunk("fmt ", fmt), Chunk("data", data)})},
        {"data before fmt", Riff({Chunk("data", data), Chunk("fmt ", fmt)})},
        {"18-byte fmt", Riff({Chunk("fmt ", FmtBody({.cbSize = true})), Chunk("data", data)})},
        {"extensible PCM", Riff({Chunk("fmt ", FmtBody({.tag = 0xFFFE, .subFormat = &kPcmGuid})),
                                 Chunk("data", data)})},
        {"partial last frame (1 byte)", Riff({Chunk("fmt ", fmt), Chunk("data", dataPlusOne)})},
        {"partial last frame (3 bytes)", Riff({Chunk("fmt ", fmt), Chunk("data", dataPlusThree)})},
        {"chunks after data",
         Riff({Chunk("fmt ", fmt), Chunk("data", data), Chunk("LIST", Bytes(5, 'y'))})},
        {"odd data chunk without its pad byte at the end",
         [&] {
             Bytes b = Riff({Chunk("fmt ", fmt), Chunk("data", dataPlusOne)});
             b.pop_back();
             return b;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto audio = ParseClipboardWave(c.block, 2);
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->frames, 3u);
        EXPECT_EQ(audio->samples, s);
    }
    // The RIFF size is not trusted: a streaming writer's 0 or a size past the end still parses.
    for (std::uint32_t riff : {0u, 0xFFFF'FFFFu}) {
        Bytes b = Canonical(2, s);
        for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
        const auto audio = ParseClipboardWave(b, 2);
        ASSERT_TRUE(audio) << riff;
        EXPECT_EQ(audio->samples, s);
    }
}

TEST(ClipboardWave, ConvertsToTheDocumentsChannelCount) {
    struct Case {
        const char* name;
        std::uint16_t channels, documentChannels;
        Samples in, out;
    };
    const std::vector<Case> cases = {
        {"mono to stereo", 1, 2, {100, -32768, 32767}, {100, 100, -32768, -32768, 32767, 32767}},
        // Means rounded half to even: 1.5 → 2, 2.5 → 2, −0.5 → 0, −1.5 → −2, −32767.5 → −32768.
        {"stereo to mono",
         2,
         1,
         {1,     2,     2,      3,      -1,    0,      -2,     -1,     10000, 20001,
          32767, 32767, -32768, -32768, 32767, -32768, -32768, -32767, 0,     0},
         {2, 2, 0, -2, 15000, 32767, -32768, 0, -32768, 0}},
        {"three channels to stereo", 3, 2, {1, 2, 3, -4, -5, -6}, {1, 2, -4, -5}},
        {"three channels to mono", 3, 1, {1, 2, 3, -4, -5, -6}, {2, -4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes block = Riff(
            {Chunk("fmt ", FmtBody({.channels = c.channels})), Chunk("data", SampleBytes(c.in))});
        const auto audio = ParseClipboardWave(block, c.documentChannels);
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->frames, c.in.size() / c.channels);
        EXPECT_EQ(audio->samples, c.out);
    }
}

TEST(ClipboardWave, EmptyDataIsZeroFrames) {
    for (std::uint16_t documentChannels : {1, 2}) {
        const auto audio = ParseClipboardWave(Canonical(2, {}), documentChannels);
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->frames, 0u);
        EXPECT_TRUE(audio->samples.empty());
    }
}

TEST(ClipboardWave, RefusesWhatIsNotUsable16BitPcm) {
    const Samples s = {1, 2, 3, 4};
    const Bytes data = SampleBytes(s);
    const Bytes fmt = FmtBody({});
    struct Case {
        const char* name;
        Bytes block;
    };
    const std::vector<Case> cases = {
        {"8-bit PCM", Riff({Chunk("fmt ", FmtBody({.bits = 8})), Chunk("data", data)})},
        {"32-bit float", Riff({Chunk("fmt ", FmtBody({.tag = 3, .bits = 32})), Chunk("data", data)})},
        {"24-bit PCM", Riff({Chunk("fmt ", FmtBody({.bits = 24})), Chunk("data", Bytes(12, 0))})},
        {"extensible float",
         Riff({Chunk("fmt ", FmtBody({.tag = 0xFFFE, .subFormat = &kFloatGuid})),
               Chunk("data", data)})},
        {"extensible without its sub-format",
         Riff({Chunk("fmt ", FmtBody({.tag = 0xFFFE, .cbSize = true})), Chunk("data", data)})},
        {"0 channels", Riff({Chunk("fmt ", FmtBody({.channels = 0})), Chunk("data", data)})},
        {"block align not channels × 2",
         Riff({Chunk("fmt ", FmtBody({.blockAlign = 6})), Chunk("data", data)})},
        {"fmt chunk too short",
         Riff({Chunk("fmt ", Bytes(fmt.begin(), fmt.begin() + 14)), Chunk("data", data)})},
        {"data size beyond the block", Riff({Chunk("fmt ", fmt), Chunk("data", data, 10)})},
        {"data size 0xFFFFFFFF", Riff({Chunk("fmt ", fmt), Chunk("data", data, 0xFFFF'FFFF)})},
        {"a chunk before data running past the block",
         Riff({Chunk("fmt ", fmt), Chunk("LIST", {1, 2}, 100), Chunk("data", data)})},
        {"canonical header cut short",
         [] {
             Bytes b = Canonical(2, {});
             b.resize(30);
             return b;
         }()},
        {"only the RIFF header", Riff({})},
        {"missing fmt", Riff({Chunk("LIST", Bytes(4, 0)), Chunk("data", data)})},
        {"missing data", Riff({Chunk("fmt ", fmt), Chunk("LIST", data)})},
        {"not WAVE",
         [&] {
             Bytes b = Canonical(2, s);
             std::memcpy(&b[8], "AVI ", 4);
             return b;
         }()},
        {"big-endian RIFX",
         [&] {
             Bytes b = Canonical(2, s);
             b[3] = 'X';
             return b;
         }()},
        {"garbage", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', 0, 1, 2, 3,
                          4, 5, 6, 7, 8, 9}},
        {"empty", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ParseClipboardWave(c.block, 1));
        EXPECT_FALSE(ParseClipboardWave(c.block, 2));
    }
}

TEST(ClipboardWave, DocumentHasOneOrTwoChannels) {
    EXPECT_THROW(ParseClipboardWave(Canonical(2, {}), 0), std::invalid_argument);
    EXPECT_THROW(ParseClipboardWave(Canonical(2, {}), 3), std::invalid_argument);
}

}  // namespace
}  // namespace kestrune

#include "document/TBASSDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <thread>

#include "platform/OsError.h"
#include "tests/codec/StreamFixtures.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::MakeTone;
using test::TestDir;

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// A working file read back, its header checked against its size.
struct WorkFile {
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::vector<std::int16_t> samples;
    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};

WorkFile ReadWorkFile(const std::string& path) {
    const auto b = test::ReadFile(path);
    WorkFile w;
    EXPECT_GE(b.size(), 44u) << path;
    if (b.size() < 44) return w;
    EXPECT_EQ(std::memcmp(&b[0], "RIFF", 4), 0);
    EXPECT_EQ(U32(b, 4), b.size() - 8);
    EXPECT_EQ(std::memcmp(&b[8], "WAVEfmt ", 8), 0);
    EXPECT_EQ(U32(b, 16), 16u);
    EXPECT_EQ(U16(b, 20), 1);
    EXPECT_EQ(U16(b, 34), 16);
    EXPECT_EQ(std::memcmp(&b[36], "data", 4), 0);
    EXPECT_EQ(U32(b, 40), b.size() - 44);
    w.channels = U16(b, 22);
    w.rate = U32(b, 24);
    w.byteRate = U32(b, 28);
    w.blockAlign = U16(b, 32);
    EXPECT_EQ(w.rate, 44100u);
    EXPECT_EQ(w.blockAlign, w.channels * 2);
    EXPECT_EQ(w.byteRate, 44100u * w.blockAlign);
    EXPECT_EQ((b.size() - 44) % w.blockAlign, 0u);
    w.samples.resize((b.size() - 44) / 2);
    if (!w.samples.empty()) std::memcpy(w.samples.data(), &b[44], w.samples.size() * 2);
    return w;
}

struct Decoded {
    bool open = false;
    WorkFile file;
    Tindexdata index;
    std::int16_t peak = 0;
    std::string title, artist;
};

// A whole load: construct, IsOpen, Decode, Finish.
Decoded Decode(const std::string& source, const std::string& output) {
    Decoded d;
    TBASSDecoder decoder(source, output);
    d.open = decoder.IsOpen();
    if (!d.open) return d;
    std::atomic<std::int32_t> progress{0};
    EXPECT_TRUE(decoder.Decode(progress));
    decoder.PeakIndex().Finish(d.index);
    d.peak = decoder.PeakIndex().Peak();
    d.title = decoder.Title();
    d.artist = decoder.Artist();
    d.file = ReadWorkFile(output);
    return d;
}

constexpr double ToneRms = 0.5 / 1.4142135623730951 * 32767;

// Groups of the peak index after Finish for `frames` frames: one per block begun (at least one,
// even for no frames) and the trailing zero group.
std::size_t IndexGroups(std::size_t frames) {
    return std::max<std::size_t>(1, (frames + 511) / 512) + 1;
}

TEST(TBASSDecoder, FloatToPcm16) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float in;
        std::int16_t out;
    };
    const Case cases[] = {
        {1.0f, 32767},
        {1.7f, 32767},
        {-1.0f, -32767},
        {-3.0f, -32767},
        {nan, -32767},
        {0.5f, 16384},  // 16383.5: a tie, to even
        {-0.5f, -16384},
        {-0.0f, 0},
        {0.25f, 8192},  // 8191.75
        {0.1f, 3277},   // 3276.70…
        {-0.1f, -3277},
        {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32767},
    };
    std::vector<float> in;
    for (const auto& c : cases) in.push_back(c.in);
    // Enough samples that the runs of the bulk loop and the tail are both used.
    for (int i = 0; i < 3; ++i) in.insert(in.end(), in.begin(), in.begin() + std::size(cases));
    std::vector<std::int16_t> out(in.size());
    TBASSDecoder::ClampSamples(in.data(), in.size());
    TBASSDecoder::FloatToPcm16(in.data(), out.data(), in.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], cases[i % std::size(cases)].out) << "case " << i % std::size(cases);
}

TEST(TBASSDecoder, WritesTheWorkingFormat) {
    TestDir dir;
    struct Case {
        const char* name;
        int rate;
        int channels;
        double seconds;
        std::uint16_t outChannels;
    };
    const Case cases[] = {
        {"mono.wav", 44100, 1, 1.0, 1},
        {"stereo.wav", 44100, 2, 1.0, 2},
        {"six.wav", 44100, 6, 1.0, 2},
        {"rate48.wav", 48000, 2, 2.0, 2},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        // Six channels: the tone in front left only.
        MakeTone(path, "-c:a pcm_s16le", c.rate, c.channels, c.seconds, c.channels == 6 ? 0 : -1);
        const auto d = Decode(path, dir.file("out.wav"));
        ASSERT_TRUE(d.open) << c.name;
        EXPECT_EQ(d.file.channels, c.outChannels) << c.name;
        EXPECT_EQ(d.file.byteRate, 44100u * 2 * c.outChannels) << c.name;
        EXPECT_EQ(d.file.blockAlign, 2 * c.outChannels) << c.name;
        const auto frames = d.file.frames();
        EXPECT_NEAR(static_cast<double>(frames), c.seconds * 44100, 2) << c.name;
        // The peak index covers every block, plus the trailing zero group.
        EXPECT_EQ(d.index.size(), IndexGroups(frames) * c.outChannels) << c.name;
        if (c.channels <= 2) {
            EXPECT_NEAR(d.peak, 16384, 8) << c.name;
            EXPECT_NEAR(test::Rms(d.file.samples, c.outChannels, 0, frames / 4, frames * 3 / 4),
                        ToneRms, 40)
                << c.name;
        } else {
            EXPECT_GT(test::Rms(d.file.samples, 2, 0, 0, frames), 1000) << c.name;
            EXPECT_LT(test::Rms(d.file.samples, 2, 1, 0, frames), 1) << c.name;
        }
    }
}

// Each format decodes to about its length with the tone intact.
TEST(TBASSDecoder, DecodesEveryFormat) {
    TestDir dir;
    struct Case {
        const char* name;
        const char* codec;
        int channels;
        // How far FFmpeg's own encoders and decoders stray from the length for these codecs
        // (priming and padding not marked in the file, or trimmed too eagerly).
        int fewerFrames;
        int moreFrames;
        double rmsTolerance;
    };
    const Case cases[] = {
        {"t.mp3", "-c:a libmp3lame -b:a 192k", 2, 0, 0, 0.05},
        {"u8.wav", "-c:a pcm_u8", 1, 0, 0, 0.01},
        {"s16.wav", "-c:a pcm_s16le", 2, 0, 0, 0.002},
        {"s24.wav", "-c:a pcm_s24le", 2, 0, 0, 0.002},
        {"s32.wav", "-c:a pcm_s32le", 1, 0, 0, 0.002},
        {"f32.wav", "-c:a pcm_f32le", 2, 0, 0, 0.002},
        {"t.flac", "-c:a flac", 2, 0, 0, 0.002},
        {"t.ogg", "-c:a libvorbis", 2, 256, 0, 0.05},
        {"aac.m4a", "-c:a aac", 2, 0, 2048, 0.05},
        {"alac.m4a", "-c:a alac", 2, 0, 0, 0.002},
        {"raw.aac", "-c:a aac -f adts", 2, 0, 3072, 0.05},
        {"t.wma", "-c:a wmav2", 2, 2048, 2048, 0.05},
        {"t.ape", nullptr, 1, 0, 0, 0.002},  // no encoder for it on the system: written here
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        if (c.codec) {
            MakeTone(path, c.codec, 44100, c.channels, 1.0);
        } else {
            const std::string raw = dir.file("tone.raw");
            MakeTone(raw, "-f s16le -c:a pcm_s16le", 44100, 1, 1.0);
            const auto bytes = test::ReadFile(raw);
            std::vector<std::int16_t> tone(bytes.size() / 2);
            std::memcpy(tone.data(), bytes.data(), tone.size() * 2);
            test::WriteMonkeysAudio(path, tone);
        }
        const auto d = Decode(path, dir.file("out.wav"));
        ASSERT_TRUE(d.open) << c.name;
        EXPECT_EQ(d.file.channels, c.channels) << c.name;
        const double frames = static_cast<double>(d.file.frames());
        EXPECT_GE(frames, 44100 - 2 - c.fewerFrames) << c.name;
        EXPECT_LE(frames, 44100 + 2 + c.moreFrames) << c.name;
        for (int ch = 0; ch < c.channels; ++ch) {
            // The middle half, clear of any encoder delay.
            const std::size_t first = 11025;
            EXPECT_NEAR(test::Rms(d.file.samples, c.channels, ch, first, first + 22050) / ToneRms,
                        1.0, c.rmsTolerance)
                << c.name << " channel " << ch;
            EXPECT_NEAR(test::Crossings(d.file.samples, c.channels, ch, first, first + 22050),
                        220 * (ch + 1), 2)
                << c.name << " channel " << ch;
        }
    }
}

TEST(TBASSDecoder, PassesTheTagsOn) {
    TestDir dir;
    const std::string path = dir.file("tagged.mp3");
    MakeTone(path, "-c:a libmp3lame -metadata title=Grüße -metadata artist=Ärzte", 44100, 1, 0.3);
    const auto d = Decode(path, dir.file("out.wav"));
    ASSERT_TRUE(d.open);
    EXPECT_EQ(d.title, "Grüße");
    EXPECT_EQ(d.artist, "Ärzte");

    const std::string bare = dir.file("bare.wav");
    test::WriteWav(bare, 1, std::vector<std::int16_t>(100, 5));
    const auto b = Decode(bare, dir.file("out.wav"));
    ASSERT_TRUE(b.open);
    EXPECT_EQ(b.title, "");
    EXPECT_EQ(b.artist, "");
}

TEST(TBASSDecoder, SourceWithoutSamplesGivesAHeaderOnly) {
    TestDir dir;
    const std::string path = dir.file("silent.wav");
    test::WriteWav(path, 2, {});
    const std::string out = dir.file("out.wav");
    TBASSDecoder decoder(path, out);
    ASSERT_TRUE(decoder.IsOpen());
    std::atomic<std::int32_t> progress{0};
    EXPECT_TRUE(decoder.Decode(progress));
    const auto bytes = test::ReadFile(out);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(U32(bytes, 4), 36u);
    EXPECT_EQ(U32(bytes, 40), 0u);
    EXPECT_EQ(U16(bytes, 22), 2);
    Tindexdata index;
    decoder.PeakIndex().Finish(index);
    EXPECT_EQ(index, (Tindexdata{{-32768, 32767}, {-32768, 32767}, {0, 0}, {0, 0}}));
}

TEST(TBASSDecoder, ProgressRisesThenReturnsToZero) {
    TestDir dir;
    const std::string path = dir.file("long.flac");
    MakeTone(path, "-c:a flac", 48000, 2, 30.0);
    TBASSDecoder decoder(path, dir.file("out.wav"));
    ASSERT_TRUE(decoder.IsOpen());

    std::atomic<std::int32_t> progress{-1};
    std::atomic<bool> done{false};
    std::vector<std::int32_t> seen;
    std::thread watcher([&] {
        std::int32_t last = -2;
        while (!done.load()) {
            const std::int32_t v = progress.load();
            if (v != last) seen.push_back(last = v);
        }
        seen.push_back(progress.load());
    });
    const bool ok = decoder.Decode(progress);
    done = true;
    watcher.join();

    EXPECT_TRUE(ok);
    EXPECT_EQ(progress.load(), 0);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.back(), 0);
    // After the initial −1: 0, then values that only rise within 0 … 100, then 0 again.
    std::size_t first = seen.front() == -1 ? 1 : 0;
    std::size_t last = seen.size();
    while (last > first && seen[last - 1] == 0) --last;
    std::int32_t previous = 0;
    int between = 0;
    for (std::size_t i = first; i < last; ++i) {
        EXPECT_GE(seen[i], previous) << "at " << i;
        EXPECT_LE(seen[i], 100);
        if (seen[i] > 0 && seen[i] < 100) ++between;
        previous = seen[i];
    }
    EXPECT_GT(between, 0) << "no value between 0 and 100 was seen";
}

TEST(TBASSDecoder, StopsAtTheFileSizeLimit) {
    TestDir dir;
    const std::string mono = dir.file("mono.wav");
    // Below 16384 a 16-bit sample survives the round trip through float (÷ 32768, × 32767).
    std::vector<std::int16_t> ramp(44100);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(i % 16000);
    test::WriteWav(mono, 1, ramp);
    const std::string stereo = dir.file("stereo.wav");
    test::WriteWav(stereo, 2, ramp);  // 22050 frames
    struct Case {
        const std::string* source;
        std::uint32_t limit;
        std::uint32_t dataBytes;
        bool truncated;
    };
    const Case cases[] = {
        {&mono, 44 + 88200, 88200, false},  // fits exactly
        {&mono, 44 + 88199, 88198, true},   // one byte short: the last frame goes
        {&mono, 44 + 10001, 10000, true},
        {&stereo, 44 + 4003, 4000, true},  // rounded down to whole stereo frames
        {&stereo, 44 + 3, 0, true},
        {&stereo, 44 + 88200, 88200, false},
    };
    for (const auto& c : cases) {
        const std::string out = dir.file("out.wav");
        TBASSDecoder decoder(*c.source, out, c.limit);
        ASSERT_TRUE(decoder.IsOpen());
        std::atomic<std::int32_t> progress{0};
        EXPECT_TRUE(decoder.Decode(progress));
        EXPECT_EQ(decoder.Truncated(), c.truncated) << c.limit;
        const auto w = ReadWorkFile(out);
        ASSERT_EQ(w.samples.size() * 2, c.dataBytes) << c.limit;
        EXPECT_TRUE(std::equal(w.samples.begin(), w.samples.end(), ramp.begin())) << c.limit;
        Tindexdata index;
        decoder.PeakIndex().Finish(index);
        const std::size_t frames = w.frames();
        EXPECT_EQ(index.size(), IndexGroups(frames) * w.channels)
            << "the index covers exactly what was written";
    }
    EXPECT_EQ(TBASSDecoder::MaxFileBytes, 2147483647u);
}

TEST(TBASSDecoder, OutputFailuresRaiseErrors) {
    TestDir dir;
    const std::string source = dir.file("tone.wav");
    MakeTone(source, "-c:a pcm_s16le", 44100, 2, 1.0);

    const std::string nowhere = dir.file("missing-folder/out.wav");
    TBASSDecoder decoder(source, nowhere);
    ASSERT_TRUE(decoder.IsOpen());
    std::atomic<std::int32_t> progress{7};
    try {
        decoder.Decode(progress);
        ADD_FAILURE() << "no error";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_NE(std::string(e.what()).find(nowhere), std::string::npos) << e.what();
    }

    // A full disk: 176 KiB of samples onto a 64 KiB volume.
    test::SmallVolume volume(64 * 1024);
    if (!volume.mounted()) GTEST_SKIP() << "needs root to mount a small volume";
    const std::string full = volume.path() + "out.wav";
    TBASSDecoder onFull(source, full);
    try {
        onFull.Decode(progress);
        ADD_FAILURE() << "no error";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.code(), ENOSPC);
        EXPECT_NE(std::string(e.what()).find(full), std::string::npos) << e.what();
    }
}

TEST(TBASSDecoder, UnreadableSourceStaysClosed) {
    TestDir dir;
    const std::string out = dir.file("out.wav");
    TBASSDecoder decoder(dir.file("missing.mp3"), out);
    EXPECT_FALSE(decoder.IsOpen());
    std::atomic<std::int32_t> progress{5};
    EXPECT_FALSE(decoder.Decode(progress));
    EXPECT_EQ(progress.load(), 0);
    EXPECT_FALSE(test::FileExists(out));
    EXPECT_THROW(decoder.PeakIndex(), std::logic_error);
}

// Files that are damaged or no audio at all: each either decodes what it holds into a
// consistent working file or stays closed without making one.
TEST(TBASSDecoder, SurvivesBadInput) {
    TestDir dir;
    std::vector<std::string> inputs;
    auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(dir.file(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        inputs.push_back(name);
    };

    write("empty.mp3", {});
    const std::string note = "Just some text in a file that pretends to be an MP3.\n";
    write("note.mp3", {note.begin(), note.end()});
    std::mt19937 random(1234);
    std::vector<std::uint8_t> noise(64 * 1024);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    for (const char* ext : {"mp3", "wav", "flac", "m4a", "ogg", "wma", "aac", "ape"})
        write(std::string("noise.") + ext, noise);
    std::filesystem::create_directory(dir.file("folder.mp3"));
    inputs.push_back("folder.mp3");
    inputs.push_back("missing.wav");

    // Valid files cut short at several points.
    const char* codecs[][2] = {{"t.mp3", "-c:a libmp3lame"},
                               {"t.flac", "-c:a flac"},
                               {"t.m4a", "-c:a aac"},
                               {"t.ogg", "-c:a libvorbis"},
                               {"t.wma", "-c:a wmav2"},
                               {"t.wav", "-c:a pcm_s16le"},
                               {"t.ape", nullptr}};
    for (const auto& [name, codec] : codecs) {
        const std::string path = dir.file(name);
        if (codec) {
            MakeTone(path, codec, 44100, 2, 1.0);
        } else {
            std::vector<std::int16_t> ramp(30000);
            for (std::size_t i = 0; i < ramp.size(); ++i)
                ramp[i] = static_cast<std::int16_t>((i * 37) % 20000 - 10000);
            test::WriteMonkeysAudio(path, ramp);
        }
        const auto whole = test::ReadFile(path);
        for (const std::size_t cut : {std::size_t{1}, std::size_t{10}, std::size_t{100},
                                      std::size_t{1000}, whole.size() / 2, whole.size() - 1})
            write("cut" + std::to_string(cut) + "-" + name,
                  {whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)});
    }

    for (const auto& name : inputs) {
        const std::string out = dir.file("out-" + name + ".wav");
        TBASSDecoder decoder(dir.file(name), out);
        std::atomic<std::int32_t> progress{0};
        if (!decoder.IsOpen()) {
            EXPECT_FALSE(decoder.Decode(progress)) << name;
            EXPECT_FALSE(test::FileExists(out)) << name;
            continue;
        }
        EXPECT_TRUE(decoder.Decode(progress)) << name;
        EXPECT_EQ(progress.load(), 0) << name;
        SCOPED_TRACE(name);
        ReadWorkFile(out);
    }
}

// What is decodable of a damaged file comes through.
TEST(TBASSDecoder, DecodesWhatADamagedFileHolds) {
    TestDir dir;
    const std::string wav = dir.file("t.wav");
    MakeTone(wav, "-c:a pcm_s16le -fflags +bitexact", 44100, 2, 1.0);
    auto bytes = test::ReadFile(wav);

    // A header claiming far more data than the file holds.
    auto claims = bytes;
    const std::uint32_t huge = 0x7FFFFF00;
    for (int i = 0; i < 4; ++i) claims[40 + i] = static_cast<std::uint8_t>(huge >> (8 * i));
    const std::string claimsPath = dir.file("claims.wav");
    std::ofstream(claimsPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(claims.data()),
               static_cast<std::streamsize>(claims.size()));
    ASSERT_EQ(std::memcmp(&claims[36], "data", 4), 0) << "the fixture's data chunk has moved";
    const auto c = Decode(claimsPath, dir.file("out1.wav"));
    ASSERT_TRUE(c.open);
    EXPECT_EQ(c.file.frames(), 44100u);

    // Half of a WAV, FLAC and MP3 file: about half of the audio.
    const char* codecs[][2] = {
        {"h.wav", "-c:a pcm_s16le"}, {"h.flac", "-c:a flac"}, {"h.mp3", "-c:a libmp3lame"}};
    for (const auto& [name, codec] : codecs) {
        const std::string path = dir.file(name);
        MakeTone(path, codec, 44100, 2, 2.0);
        auto whole = test::ReadFile(path);
        whole.resize(whole.size() / 2);
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(whole.data()),
                   static_cast<std::streamsize>(whole.size()));
        const auto d = Decode(path, dir.file("out2.wav"));
        ASSERT_TRUE(d.open) << name;
        EXPECT_NEAR(static_cast<double>(d.file.frames()), 44100, 3000) << name;
        EXPECT_NEAR(test::Rms(d.file.samples, 2, 0, 10000, 30000) / ToneRms, 1.0, 0.06) << name;
    }
}

}  // namespace
}  // namespace kestrune

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "codec/TMixerStream.h"
#include "codec/TSourceStream.h"
#include "tests/codec/StreamFixtures.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::MakeTone;
using test::TestDir;

// Everything the mixer delivers, pulled 10000 bytes at a time; `sizes` gets each pull's result.
std::vector<float> PullAll(TMixerStream& mixer, std::vector<int>* sizes = nullptr) {
    std::vector<float> all;
    std::vector<float> block(2500);
    for (;;) {
        const int n = mixer.GetData(block.data(), 10000);
        if (sizes) sizes->push_back(n);
        if (n <= 0) break;
        all.insert(all.end(), block.begin(), block.begin() + n / 4);
    }
    return all;
}

std::vector<float> ReadFloats(const std::string& path) {
    const auto bytes = test::ReadFile(path);
    std::vector<float> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

// Cuts the ID3v2 tag off the front of an MP3 file (ffmpeg writes ID3v1 only beside one).
void DropId3v2(const std::string& path) {
    auto bytes = test::ReadFile(path);
    ASSERT_GE(bytes.size(), 10u);
    ASSERT_EQ(std::memcmp(bytes.data(), "ID3", 3), 0);
    const std::size_t size =
        10 + (bytes[6] << 21 | bytes[7] << 14 | bytes[8] << 7 | static_cast<std::size_t>(bytes[9]));
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(TSourceStream, DescribesTheAudioStream) {
    TestDir dir;
    struct Case {
        const char* name;
        const char* codec;
        int rate;
        int channels;
    };
    const Case cases[] = {
        {"stereo48.flac", "-c:a flac", 48000, 2},
        {"mono22.wav", "-c:a pcm_s16le", 22050, 1},
        {"six.wav", "-c:a pcm_s16le", 44100, 6},
        {"mono.ogg", "-c:a libvorbis", 32000, 1},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        MakeTone(path, c.codec, c.rate, c.channels, 0.5);
        const auto source = TSourceStream::Open(path);
        ASSERT_NE(source, nullptr) << c.name;
        EXPECT_EQ(source->Channels(), c.channels) << c.name;
        EXPECT_EQ(source->SampleRate(), c.rate) << c.name;
        EXPECT_TRUE(source->IsActive()) << c.name;
    }
}

TEST(TSourceStream, RefusesWhatIsNotAudio) {
    TestDir dir;
    std::ofstream(dir.file("empty.mp3")).flush();
    std::ofstream(dir.file("note.mp3")) << "This is not audio, only a note about audio.\n";
    std::filesystem::create_directory(dir.file("folder.mp3"));
    // A FIFO would block an open for reading until a writer comes: it must be refused unopened.
    ASSERT_EQ(::mkfifo(dir.file("pipe.mp3").c_str(), 0600), 0);
    for (const char* name : {"missing.mp3", "empty.mp3", "note.mp3", "folder.mp3", "pipe.mp3"})
        EXPECT_EQ(TSourceStream::Open(dir.file(name)), nullptr) << name;
}

TEST(TSourceStream, PositionRisesToLength) {
    TestDir dir;
    struct Case {
        const char* name;
        const char* codec;
        std::int64_t length;  // 0: only known from the file's size
    };
    const Case cases[] = {
        {"tone.wav", "-c:a pcm_s16le", 44100 * 2 * 4},
        {"tone.flac", "-c:a flac", 44100 * 2 * 4},
        {"tone.aac", "-c:a aac -f adts", 0},  // raw AAC: a duration from the bit rate only
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        MakeTone(path, c.codec);
        const auto source = TSourceStream::Open(path);
        ASSERT_NE(source, nullptr) << c.name;
        const std::int64_t length = source->Length();
        if (c.length)
            EXPECT_EQ(length, c.length) << c.name;
        else
            EXPECT_EQ(length, static_cast<std::int64_t>(std::filesystem::file_size(path)))
                << c.name;
        EXPECT_EQ(source->Position(), 0) << c.name;
        std::int64_t last = 0;
        int frames = 0;
        while (source->NextFrame()) {
            EXPECT_GE(source->Position(), last) << c.name;
            EXPECT_LE(source->Position(), length) << c.name;
            last = source->Position();
            ++frames;
        }
        EXPECT_GT(frames, 3) << c.name;
        EXPECT_EQ(source->Position(), length) << c.name;
        EXPECT_TRUE(source->IsActive()) << "only the mixer's release ends it";
        source->Release();
        EXPECT_FALSE(source->IsActive());
        EXPECT_EQ(source->NextFrame(), nullptr);
        EXPECT_EQ(source->Position(), length);
    }
}

TEST(TSourceStream, ReadsTitleAndArtistAsUtf8) {
    TestDir dir;
    const std::string title = "Grüße aus Köln";
    const std::string artist = "Ærøskøbing Ensemble";
    struct Case {
        const char* name;
        const char* codec;
        bool ascii;  // the tag format holds only 8-bit text
        bool onlyId3v1 = false;
    };
    const Case cases[] = {
        {"id3v2.mp3", "-c:a libmp3lame", false},
        {"id3v1.mp3", "-c:a libmp3lame -write_id3v1 1", true, true},
        {"vorbis.flac", "-c:a flac", false},
        {"vorbis.ogg", "-c:a libvorbis", false},  // the comments sit on the stream, not the file
        {"mp4.m4a", "-c:a aac", false},
        {"asf.wma", "-c:a wmav2", false},
        {"riff.wav", "-c:a pcm_s16le", true},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        const std::string t = c.ascii ? "Hello Title" : title;
        const std::string a = c.ascii ? "Some Artist" : artist;
        MakeTone(
            path,
            std::string(c.codec) + " -metadata \"title=" + t + "\" -metadata \"artist=" + a + "\"",
            44100, 1, 0.2);
        if (c.onlyId3v1) DropId3v2(path);
        const auto source = TSourceStream::Open(path);
        ASSERT_NE(source, nullptr) << c.name;
        EXPECT_EQ(source->Title(), t) << c.name;
        EXPECT_EQ(source->Artist(), a) << c.name;
    }

    const std::string bare = dir.file("bare.flac");
    MakeTone(bare, "-c:a flac -map_metadata -1 -fflags +bitexact", 44100, 1, 0.2);
    const auto source = TSourceStream::Open(bare);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Title(), "");
    EXPECT_EQ(source->Artist(), "");
}

TEST(TMixerStream, PassesFloatAt44100ThroughUnchanged) {
    TestDir dir;
    const std::string wav = dir.file("float.wav");
    const std::string raw = dir.file("float.raw");
    MakeTone(wav, "-c:a pcm_f32le");
    MakeTone(raw, "-f f32le -c:a pcm_f32le");
    const auto source = TSourceStream::Open(wav);
    ASSERT_NE(source, nullptr);
    TMixerStream mixer(*source, 2);

    std::vector<int> sizes;
    const auto samples = PullAll(mixer, &sizes);
    EXPECT_EQ(samples, ReadFloats(raw));
    // 44100 stereo frames are 352800 bytes: 35 full pulls, the 2800-byte rest, then the end.
    ASSERT_EQ(sizes.size(), 37u);
    for (std::size_t i = 0; i < 35; ++i) EXPECT_EQ(sizes[i], 10000) << i;
    EXPECT_EQ(sizes[35], 2800);
    EXPECT_EQ(sizes[36], -1);
    EXPECT_FALSE(source->IsActive());
}

TEST(TMixerStream, ReleasesTheSourceWithTheLastBytes) {
    TestDir dir;
    const std::string wav = dir.file("tone.wav");
    MakeTone(wav, "-c:a pcm_s16le", 44100, 1, 0.1);  // 4410 frames: 17640 bytes of float
    const auto source = TSourceStream::Open(wav);
    ASSERT_NE(source, nullptr);
    TMixerStream mixer(*source, 1);
    std::vector<float> block(2500);
    EXPECT_EQ(mixer.GetData(block.data(), 6), 4) << "whole frames only";
    EXPECT_EQ(mixer.GetData(block.data(), 10000), 10000);
    EXPECT_TRUE(source->IsActive());
    EXPECT_EQ(mixer.GetData(block.data(), 10000), 17640 - 10004);
    EXPECT_FALSE(source->IsActive());
    EXPECT_EQ(mixer.GetData(block.data(), 10000), -1);
}

TEST(TMixerStream, ResamplesTo44100) {
    TestDir dir;
    struct Case {
        const char* name;
        int rate;
        int channels;
        double seconds;
    };
    const Case cases[] = {
        {"down.flac", 48000, 2, 2.0},
        {"up.wav", 22050, 1, 1.0},
        {"odd.wav", 37800, 2, 1.0},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        MakeTone(path, c.name[std::strlen(c.name) - 1] == 'c' ? "-c:a flac" : "-c:a pcm_s16le",
                 c.rate, c.channels, c.seconds);
        const auto source = TSourceStream::Open(path);
        ASSERT_NE(source, nullptr);
        TMixerStream mixer(*source, c.channels);
        const auto samples = PullAll(mixer);
        const auto frames = samples.size() / c.channels;
        EXPECT_NEAR(static_cast<double>(frames), c.seconds * 44100, 2) << c.name;
        // One second from the middle: each channel keeps its pitch and its level.
        const std::size_t first = frames / 2 - 22050;
        for (int ch = 0; ch < c.channels; ++ch) {
            EXPECT_NEAR(test::Crossings(samples, c.channels, ch, first, first + 44100),
                        440 * (ch + 1), 1)
                << c.name << " channel " << ch;
            EXPECT_NEAR(test::Rms(samples, c.channels, ch, first, first + 44100),
                        0.5 / std::sqrt(2), 0.002)
                << c.name << " channel " << ch;
        }
    }
}

TEST(TMixerStream, DownMixesSixChannelsToStereo) {
    TestDir dir;
    // 5.1 order: FL FR FC LFE BL BR.
    const std::string centre = dir.file("centre.wav");
    const std::string left = dir.file("left.wav");
    MakeTone(centre, "-c:a pcm_s16le", 44100, 6, 0.5, 2);
    MakeTone(left, "-c:a pcm_s16le", 44100, 6, 0.5, 0);

    const auto c = TSourceStream::Open(centre);
    ASSERT_NE(c, nullptr);
    TMixerStream centreMix(*c, 2);
    const auto cs = PullAll(centreMix);
    ASSERT_EQ(cs.size(), 2u * 22050);
    const double l = test::Rms(cs, 2, 0, 0, 22050);
    const double r = test::Rms(cs, 2, 1, 0, 22050);
    EXPECT_GT(l, 0.05) << "the centre goes to both sides";
    EXPECT_NEAR(l, r, 1e-6);

    const auto f = TSourceStream::Open(left);
    ASSERT_NE(f, nullptr);
    TMixerStream leftMix(*f, 2);
    const auto fs = PullAll(leftMix);
    ASSERT_EQ(fs.size(), 2u * 22050);
    EXPECT_GT(test::Rms(fs, 2, 0, 0, 22050), 0.1);
    EXPECT_LT(test::Rms(fs, 2, 1, 0, 22050), 1e-6) << "front left stays on the left";
    // A full-scale mix cannot exceed full scale.
    for (const float v : fs) ASSERT_LE(std::fabs(v), 1.0f);
}

TEST(TMixerStream, FollowsARateChangeMidStream) {
    TestDir dir;
    // MP3 files back to back, one second each: 44100 Hz (delivered as decoded), 48000 Hz
    // (resampled), 44100 Hz again (behind the resampler's tail).
    const std::string a = dir.file("a.mp3");
    const std::string b = dir.file("b.mp3");
    MakeTone(a, "-c:a libmp3lame -write_xing 0 -id3v2_version 0", 44100, 1, 1.0);
    MakeTone(b, "-c:a libmp3lame -write_xing 0 -id3v2_version 0", 48000, 1, 1.0);
    const auto ab = test::ReadFile(a);
    const auto bb = test::ReadFile(b);
    auto all = ab;
    all.insert(all.end(), bb.begin(), bb.end());
    all.insert(all.end(), ab.begin(), ab.end());
    const std::string joined = dir.file("joined.mp3");
    std::ofstream(joined, std::ios::binary)
        .write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));

    const auto source = TSourceStream::Open(joined);
    ASSERT_NE(source, nullptr);
    TMixerStream mixer(*source, 1);
    const auto samples = PullAll(mixer);
    // Each part carries its encoder's delay and padding (up to about 2000 frames).
    EXPECT_NEAR(static_cast<double>(samples.size()), 3 * 44100, 6000);
    // Half a second from the middle of each part: every part keeps its pitch.
    for (const std::size_t part : {0, 1, 2}) {
        const std::size_t first = part * 44100 + 12000;
        EXPECT_NEAR(test::Crossings(samples, 1, 0, first, first + 22050), 220, 2) << part;
        EXPECT_NEAR(test::Rms(samples, 1, 0, first, first + 22050), 0.5 / std::sqrt(2), 0.03)
            << part;
    }
}

}  // namespace
}  // namespace kestrune

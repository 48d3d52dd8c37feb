#include <gtest/gtest.h>

#include <filesystem>

#include "codec/AACwriter.h"
#include "codec/Mp3Writer.h"
#include "codec/SampleWriterFactory.h"
#include "codec/WavWriter.h"
#include "tests/codec/EncodedAudio.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;

// Cheap full-band noise: costs the encoders what music does, but nothing to make.
std::vector<std::int16_t> Noise(std::uint32_t frames) {
    std::vector<std::int16_t> out(std::size_t{frames} * 2);
    std::uint32_t state = 12345;
    for (auto& s : out) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<std::int32_t>(state >> 16) - 32768) / 4;
    }
    return out;
}

TEST(SampleWriterFactory, PicksTheWriterByExtensionWhateverItsCase) {
    enum Kind { None, Aac, Wav, Mp3 };
    const std::pair<const char*, Kind> cases[] = {
        {"ring.m4r", Aac},  {"ring.M4R", Aac},      {"ring.wav", Wav},         {"ring.Wav", Wav},
        {"ring.mp3", Mp3},  {"ring.MP3", Mp3},      {"ring.ogg", None},        {"ring", None},
        {"ring.m4a", None}, {"ring.mp3.txt", None}, {"folder.wav/ring", None},
    };
    TestDir dir;
    for (const auto& [name, kind] : cases) {
        const std::string path = dir.file(name);
        EXPECT_EQ(IsExportExtension(path), kind != None) << name;
        const auto writer = CreateSampleWriter(path, 2);
        TSampleWriter* w = writer.get();
        EXPECT_EQ(w == nullptr, kind == None) << name;
        EXPECT_EQ(dynamic_cast<AACwriter*>(w) != nullptr, kind == Aac) << name;
        EXPECT_EQ(dynamic_cast<WavWriter*>(w) != nullptr, kind == Wav) << name;
        EXPECT_EQ(dynamic_cast<Mp3Writer*>(w) != nullptr, kind == Mp3) << name;
        if (w) w->Finish();
    }
}

TEST(WavWriter, WritesTheWorkingHeaderAndExactlyTheSamples) {
    const std::pair<int, std::uint32_t> cases[] = {{2, 1500}, {1, 4097}, {2, 0}};
    TestDir dir;
    for (const auto& [channels, frames] : cases) {
        const std::string path = dir.file("out.wav");
        const auto source = test::MusicLike(frames, channels);
        WavWriter writer(path, channels);
        test::Feed(writer, source);
        writer.Finish();

        auto expected = test::WavHeader(static_cast<std::uint16_t>(channels),
                                        static_cast<std::uint32_t>(source.size() * 2));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(source.data());
        expected.insert(expected.end(), bytes, bytes + source.size() * 2);
        EXPECT_EQ(test::ReadFile(path), expected) << channels << " channels, " << frames;
        if (frames > 0) {
            EXPECT_EQ(test::DecodeWithFfmpeg(path, channels), source);
        }
    }
}

TEST(Mp3Writer, DecodesToExactlyTheSamplesWritten) {
    const std::pair<int, std::uint32_t> cases[] = {{2, 3 * 44100 + 100}, {1, 1500}};
    TestDir dir;
    for (const auto& [channels, frames] : cases) {
        const std::string path = dir.file("out.mp3");
        const auto source = test::MusicLike(frames, channels);
        {
            Mp3Writer writer(path, channels);
            test::Feed(writer, source);
            writer.Finish();
        }
        const auto probe = test::Probe(path);
        ASSERT_FALSE(probe.empty());
        EXPECT_EQ(probe.at("codec_name"), "mp3");
        EXPECT_EQ(probe.at("sample_rate"), "44100");
        EXPECT_EQ(probe.at("channels"), std::to_string(channels));
        EXPECT_EQ(probe.at("bit_rate"), "192000");
        // The LAME header carries the delay and the padding, so the length comes out exact.
        const auto file = test::ReadFile(path);
        const std::string text(file.begin(), file.end());
        EXPECT_NE(text.find("LAME"), std::string::npos);
        const auto decoded = test::DecodeWithFfmpeg(path, channels);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->size(), source.size()) << channels << " channels";
        int lag = -1;
        EXPECT_GE(test::AlignedCorrelation(source, *decoded, channels, 2048, &lag), 0.98);
        EXPECT_EQ(lag, 0);
    }
}

// A volume that fills up while the file is written: whichever call meets the full disk raises
// the system's reason, the partial file goes, and the writer stays failed. FFmpeg's file output
// buffers 256 KiB, so only longer output meets the disk before Finish.
TEST(SampleWriters, AFullVolumeEndsInAnErrorAndLeavesNoFile) {
    enum class Where { Write, Finish, Destructor };
    struct Case {
        const char* name;
        unsigned long volumeBytes;
        std::uint32_t frames;
        Where failsIn;
        const char* message;
    };
    const Case cases[] = {
        {"ring.m4r", 64 * 1024, 20 * 44100, Where::Write,
         "Could not write the ringtone file: No space left on device"},
        // Less output than FFmpeg buffers: the disk is met at the end.
        {"ring.m4r", 8 * 1024, 44100, Where::Finish,
         "Could not write the ringtone file: No space left on device"},
        {"ring.m4r", 8 * 1024, 44100, Where::Destructor, nullptr},
        {"ring.mp3", 64 * 1024, 15 * 44100, Where::Write,
         "Could not write the MP3 file: No space left on device"},
        {"ring.mp3", 8 * 1024, 44100, Where::Finish,
         "Could not write the MP3 file: No space left on device"},
        {"ring.wav", 64 * 1024, 44100, Where::Write,
         "Could not write the WAV file: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::SmallVolume volume(c.volumeBytes);
        if (!volume.mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
        const auto source = Noise(c.frames);
        auto writer = CreateSampleWriter(volume.path() + c.name, 2);
        ASSERT_TRUE(writer);
        std::string message;
        try {
            test::Feed(*writer, source);
            EXPECT_NE(c.failsIn, Where::Write) << "the writes all succeeded";
            if (c.failsIn == Where::Destructor) {
                writer.reset();
            } else {
                writer->Finish();
                ADD_FAILURE() << "Finish succeeded on a full volume";
            }
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        if (c.message) {
            EXPECT_EQ(message, c.message);
            // The writer stays failed: finishing again cannot turn it into a success.
            try {
                writer->Finish();
                ADD_FAILURE() << "a failed writer finished";
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), c.message);
            }
            writer.reset();
        }
        EXPECT_TRUE(std::filesystem::is_empty(volume.path()));
    }
}

}  // namespace
}  // namespace kestrune

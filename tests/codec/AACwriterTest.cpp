#include "codec/AACwriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "tests/codec/EncodedAudio.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;

struct Shape {
    const char* name;
    int channels;
    std::uint32_t frames;
    bool finishByDestructor;
};
void PrintTo(const Shape& shape, std::ostream* os) {
    *os << shape.name;
}

// Every shape is checked from three sides: ffprobe, the file's own boxes, and two decoders.
// The bit rate is only meaningful for a few seconds of audio.
class AACwriterShape : public ::testing::TestWithParam<Shape> {};

TEST_P(AACwriterShape, WritesAnM4rTrackOfExactlyTheSamplesGiven) {
    const Shape shape = GetParam();
    TestDir dir;
    const auto source = test::MusicLike(shape.frames, shape.channels);
    std::string path;
    {
        AACwriter writer(dir.file("ring.m4r"), shape.channels);
        EXPECT_EQ(writer.FrameSamples(), 1024u * shape.channels);
        path = writer.OutputPath();
        test::Feed(writer, source);
        if (!shape.finishByDestructor) writer.Finish();
    }

    const auto probe = test::Probe(path);
    ASSERT_FALSE(probe.empty());
    EXPECT_EQ(probe.at("codec_name"), "aac");
    EXPECT_EQ(probe.at("profile"), "LC");
    EXPECT_EQ(probe.at("sample_rate"), "44100");
    EXPECT_EQ(probe.at("channels"), std::to_string(shape.channels));
    EXPECT_EQ(probe.at("time_base"), "1/44100");
    EXPECT_EQ(probe.at("duration_ts"), std::to_string(shape.frames));
    EXPECT_EQ(probe.at("format.major_brand"), "M4A ");
    if (shape.frames >= 2 * 44100) {
        EXPECT_NEAR(std::stod(probe.at("bit_rate")), 128000, 0.15 * 128000);
    }

    const auto mp4 = test::ReadMp4(path);
    EXPECT_EQ(mp4.majorBrand, "M4A ");
    EXPECT_EQ(mp4.movieTimeScale, 90000u);
    ASSERT_EQ(mp4.tracks, 1);
    EXPECT_EQ(mp4.handler, "soun");
    EXPECT_EQ(mp4.trackTimeScale, 44100u);
    EXPECT_EQ(mp4.objectType, 0x40);
    // AudioSpecificConfig: object type 2 (AAC-LC), frequency index 4 (44100 Hz), channels.
    ASSERT_GE(mp4.audioSpecificConfig.size(), 2u);
    const auto& asc = mp4.audioSpecificConfig;
    EXPECT_EQ(asc[0] >> 3, 2);
    EXPECT_EQ((asc[0] & 7) << 1 | asc[1] >> 7, 4);
    EXPECT_EQ((asc[1] >> 3) & 0xF, shape.channels);
    // One edit: skip the encoder delay, then play exactly the samples written.
    ASSERT_EQ(mp4.edits.size(), 1u);
    const auto [segment, mediaTime] = mp4.edits[0];
    EXPECT_GT(mediaTime, 0);
    EXPECT_EQ(segment, (std::uint64_t{shape.frames} * 90000 + 44099) / 44100);
    // The last packet lasts only as long as the samples it still holds.
    EXPECT_EQ(mp4.mediaDuration, mediaTime + shape.frames);

    // A few seconds of music must come back faithfully; a clip of one frame or so is mostly
    // edges, where any codec does worse.
    const bool music = shape.frames >= 2 * 44100;
    const double least = music ? 0.98 : 0.9;

    // FFmpeg honours the edit list at the start (it decodes the last frame whole): the decoded
    // audio lines up with the source.
    const auto decoded = test::DecodeWithFfmpeg(path, shape.channels);
    ASSERT_TRUE(decoded);
    EXPECT_GE(decoded->size(), source.size());
    EXPECT_LT(decoded->size(), source.size() + 1024u * shape.channels);
    int lag = -1;
    EXPECT_GE(test::AlignedCorrelation(source, *decoded, shape.channels, 2048, &lag), least);
    if (music) {
        EXPECT_EQ(lag, 0);
    }

    // faad, an independent decoder, may keep part of the delay; align for it.
    const std::string info = test::Run("faad -i '" + path + "' 2>&1");
    EXPECT_NE(info.find("LC AAC"), std::string::npos) << info;
    EXPECT_NE(info.find(" 44100 Hz"), std::string::npos) << info;
    const auto faad = test::DecodeWithFaad(path, dir.file("faad.wav"), shape.channels);
    ASSERT_TRUE(faad);
    EXPECT_GE(faad->size(), source.size());
    EXPECT_GE(test::AlignedCorrelation(source, *faad, shape.channels, 2048), least);
}

INSTANTIATE_TEST_SUITE_P(Shapes, AACwriterShape,
                         ::testing::Values(Shape{"StereoOneFrame", 2, 1024, false},
                                           Shape{"StereoPartialLastFrame", 2, 1500, false},
                                           Shape{"MonoFinishedByDestructor", 1, 1500, true},
                                           Shape{"StereoMusic", 2, 4 * 44100 + 333, false},
                                           Shape{"MonoMusic", 1, 3 * 44100, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// However the samples are cut into calls (odd byte counts that split samples, or one call
// larger than the input buffer), the encoder sees the same frames.
TEST(AACwriter, BlockSizesDoNotChangeTheFile) {
    TestDir dir;
    const auto source = test::MusicLike(5 * 44100 + 77, 2);
    ASSERT_GT(source.size() * 2, AACwriter::BufferBytes);
    std::vector<std::vector<std::uint8_t>> files;
    for (const std::uint32_t block : {8192u, 3u, static_cast<std::uint32_t>(source.size() * 2)}) {
        const std::string name = dir.file("b" + std::to_string(block) + ".m4r");
        AACwriter writer(name, 2);
        test::Feed(writer, source, block);
        writer.Finish();
        files.push_back(test::ReadFile(name));
    }
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(files[0], files[2]);
}

TEST(AACwriter, NoSamplesStillMakeAValidMp4WithoutATrack) {
    // The MP4 muxer leaves out a track without samples, and the encoder delivers none when it
    // was given none: the file is an empty but well-formed movie.
    TestDir dir;
    AACwriter writer(dir.file("empty.m4r"), 2);
    writer.WriteSamples(nullptr, 0);
    writer.Finish();
    const auto probe = test::Probe(writer.OutputPath());
    ASSERT_FALSE(probe.empty());
    EXPECT_EQ(probe.at("format.nb_streams"), "0");
    EXPECT_EQ(probe.at("format.major_brand"), "M4A ");
    const auto mp4 = test::ReadMp4(writer.OutputPath());
    EXPECT_EQ(mp4.movieTimeScale, 90000u);
    EXPECT_EQ(mp4.tracks, 0);
}

TEST(AACwriter, OutputPathGetsTheM4rExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/music/ring.wav", "/music/ring.m4r"},
        {"/music/ring", "/music/ring.m4r"},
        {"/my.music/ring", "/my.music/ring.m4r"},
        {"/my.music/ring.tone.mp3", "/my.music/ring.tone.m4r"},
        {"ring.m4r", "ring.m4r"},
        {"ring.", "ring.m4r"},
    };
    for (const auto& [given, expected] : cases) EXPECT_EQ(AACwriter::M4rPath(given), expected);

    // A writer given a .wav name writes the .m4r beside it, replacing what was there.
    TestDir dir;
    std::filesystem::create_directory(dir.file("take.one"));
    { std::ofstream(dir.file("take.one/ring.m4r")) << std::string(100000, 'x'); }
    AACwriter writer(dir.file("take.one/ring.wav"), 1);
    EXPECT_EQ(writer.OutputPath(), dir.file("take.one/ring.m4r"));
    test::Feed(writer, test::MusicLike(2000, 1));
    writer.Finish();
    EXPECT_FALSE(test::FileExists(dir.file("take.one/ring.wav")));
    EXPECT_EQ(test::Probe(writer.OutputPath()).at("duration_ts"), "2000");
}

TEST(AACwriter, SetUpFailuresCarryTheirMessageAndLeaveNoFile) {
    TestDir dir;
    for (const int channels : {0, 3}) {
        try {
            AACwriter writer(dir.file("ring.m4r"), channels);
            ADD_FAILURE() << channels << " channels were accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Unable to set the channel mode");
        }
    }
    try {
        AACwriter writer(dir.file("missing/ring.m4r"), 2);
        ADD_FAILURE() << "a missing folder was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unable to create M4R file");
    }
    EXPECT_TRUE(dir.list().empty());
}

}  // namespace
}  // namespace kestrune

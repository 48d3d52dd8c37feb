// Exporting a range of the document through its Export operation.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "document/Twavefile.h"
#include "tests/support/DocumentAccess.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;

std::vector<std::int16_t> Signal(std::uint32_t samples) {
    std::vector<std::int16_t> s(samples);
    for (std::uint32_t i = 0; i < samples; ++i)
        s[i] = static_cast<std::int16_t>((i * 2654435761u) >> 16);
    return s;
}

// What ffprobe says of `path`'s first audio stream: "codec_name,channels,duration_ts".
std::string Probe(const std::string& path) {
    const std::string cmd =
        "ffprobe -v error -select_streams a:0 -count_packets -show_entries "
        "stream=codec_name,channels,duration_ts -of csv=p=0 '" +
        path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(cmd.c_str(), "r"), ::pclose);
    char line[256] = {};
    if (!p || !std::fgets(line, sizeof line, p.get())) return {};
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == ',')) s.pop_back();
    return s;
}

class Export : public ::testing::Test {
  protected:
    Export() {
        doc.onReady = [this](Twavefile&, bool) { ++readyCalls; };
    }
    // A document of `frames` frames of a known signal, without decoding.
    void MakeDocument(std::uint16_t channels, std::uint32_t frames, const std::string& name) {
        samples = Signal(frames * channels);
        const std::string path = work.file("~A.tmp");
        test::WriteWav(path, channels, samples);
        TwavefileTestAccess::Adopt(doc, path);
        TwavefileTestAccess::SetSource(doc, out.file(name));
    }
    bool ExportAndWait(const std::string& path, std::uint32_t start, std::uint32_t end) {
        if (!doc.SaveRange(path, start, end)) return false;
        EXPECT_TRUE(WaitIdle(ui, doc, 120));
        return true;
    }

    TestDir out;
    TestDir work;
    UiQueue ui;
    test::RecordingWindow window;
    Twavefile doc{ui, window};
    std::vector<std::int16_t> samples;
    int readyCalls = 0;
};

// WAV output holds exactly the range's samples, whatever the range's length against the
// 4096-sample chunks: none, less than one, exactly one, one and a bit, several.
TEST_F(Export, WavHoldsExactlyTheRangeAcrossChunkEdges) {
    MakeDocument(2, 20000, "song.wav");
    struct Range {
        std::uint32_t start, end;
    };
    for (const Range r : {Range{0, 0}, Range{5, 6}, Range{100, 2148}, Range{0, 2049},
                          Range{333, 333 + 3 * 2048}, Range{0, 20000}}) {
        SCOPED_TRACE(std::to_string(r.start) + "…" + std::to_string(r.end));
        const std::string path = out.file("range.WAV");
        ASSERT_TRUE(ExportAndWait(path, r.start, r.end));
        EXPECT_TRUE(window.errors.empty());
        const std::vector<std::int16_t> want(samples.begin() + 2 * r.start,
                                             samples.begin() + 2 * r.end);
        EXPECT_EQ(test::ReadWavSamples(path), want);
        EXPECT_EQ(test::ReadFile(path).size(), 44 + 2 * want.size());
        EXPECT_EQ(doc.Progress(), 0);
    }
    EXPECT_EQ(out.list(), (std::vector<std::string>{"range.WAV"}));  // no partial file left
}

TEST_F(Export, RingtoneAndMp3DecodeToTheRangeLength) {
    MakeDocument(1, 30000, "song.mp3");
    ASSERT_TRUE(ExportAndWait(out.file("tone.m4r"), 1000, 23050));
    EXPECT_EQ(Probe(out.file("tone.m4r")), "aac,1,22050");
    ASSERT_TRUE(doc.Save());  // over the source, an MP3
    ASSERT_TRUE(WaitIdle(ui, doc, 120));
    const std::string mp3 = Probe(out.file("song.mp3"));
    EXPECT_EQ(mp3.substr(0, 6), "mp3,1,");
    EXPECT_TRUE(window.errors.empty());
}

TEST_F(Export, OnlyKnownExtensionsAndValidRangesStart) {
    MakeDocument(2, 1000, "song.ogg");
    EXPECT_FALSE(doc.Save());
    EXPECT_FALSE(doc.SaveRange(out.file("x.flac"), 0, 10));
    EXPECT_FALSE(doc.SaveRange(out.file("noext"), 0, 10));
    EXPECT_FALSE(doc.SaveRange(out.file("x.m4r"), 10, 5));
    EXPECT_FALSE(doc.SaveRange(out.file("x.m4r"), 0, 1001));
    EXPECT_FALSE(doc.Busy());
    EXPECT_EQ(readyCalls, 0);
    EXPECT_TRUE(out.list().empty());
}

TEST_F(Export, SaveOfAnUpperCaseRingtoneReencodesTheWholeDocument) {
    MakeDocument(2, 5000, "SONG.M4R");
    ASSERT_TRUE(doc.Save());
    ASSERT_TRUE(WaitIdle(ui, doc, 120));
    EXPECT_EQ(Probe(out.file("SONG.M4R")), "aac,2,5000");
    EXPECT_FALSE(doc.Modified());
}

TEST_F(Export, AFullVolumeEndsInAnErrorAndKeepsTheOldFile) {
    test::SmallVolume volume(64 * 1024);
    if (!volume.mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    MakeDocument(2, 44100 * 5, "song.wav");
    const std::string target = volume.path() + "tone.wav";
    std::ofstream(target) << "the user's earlier ringtone";
    ASSERT_TRUE(ExportAndWait(target, 0, 44100 * 5));
    ASSERT_EQ(window.errors.size(), 1u);
    EXPECT_EQ(readyCalls, 1);
    EXPECT_EQ(test::ReadFile(target).size(), 27u);  // untouched
    EXPECT_TRUE(test::FileExists(target));
    EXPECT_TRUE(doc.Ready());  // the document keeps its audio

    std::remove(target.c_str());
    window.errors.clear();
    ASSERT_TRUE(ExportAndWait(volume.path() + "tone.m4r", 0, 44100 * 5));
    EXPECT_EQ(window.errors.size(), 1u);
    EXPECT_FALSE(test::FileExists(volume.path() + "tone.m4r"));
    EXPECT_FALSE(test::FileExists(volume.path() + ".~tone.m4r"));
}

}  // namespace
}  // namespace kestrune

// Loading files into the document through its own Load operation.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>

#include "document/Twavefile.h"
#include "tests/support/DocumentAccess.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;

const std::pair<std::string, std::string> kImportFailure{
    "Could not import audio file. Format not supported or file broken", "File Loading Error!"};

// Runs the ffmpeg command with `args`; the test fails if it does.
void Ffmpeg(const std::string& args) {
    const std::string cmd = "ffmpeg -nostdin -loglevel error -y " + args;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

class Load : public ::testing::Test {
  protected:
    Load() {
        doc.onLoaded = [this](Twavefile&, bool) { calls.push_back("loaded"); };
        doc.onReady = [this](Twavefile&, bool) { calls.push_back("ready"); };
    }
    // Opens `path`, waits for the Load and returns whether the document became ready.
    bool OpenAndWait(const std::string& path) {
        calls.clear();
        window.warnings.clear();
        doc.Open(path);
        EXPECT_TRUE(WaitIdle(ui, doc));
        return doc.Ready();
    }
    // Working files the document left in the temporary folder (inputs are kept elsewhere).
    std::vector<std::string> WorkingFiles() { return work.list(); }

    TestDir inputs;
    TestDir work;  // the newest TestDir is the temporary folder
    UiQueue ui;
    test::RecordingWindow window;
    Twavefile doc{ui, window};
    std::vector<std::string> calls;
};

TEST_F(Load, DecodesIntoAReadyDocumentWithIndexAndTags) {
    const std::string mp3 = inputs.file("tone.mp3");
    Ffmpeg(
        "-f lavfi -i sine=frequency=440:duration=2 -ac 2 -metadata title=Grüße "
        "-metadata artist=Kestrune " +
        mp3);
    ASSERT_TRUE(OpenAndWait(mp3));
    EXPECT_EQ(calls, (std::vector<std::string>{"loaded", "ready"}));
    EXPECT_EQ(doc.Channels(), 2);
    EXPECT_EQ(doc.SampleRate(), 44100u);
    EXPECT_NEAR(doc.Frames(), 88200, 1200);
    EXPECT_EQ(doc.Title(), "Grüße");
    EXPECT_EQ(doc.Artist(), "Kestrune");
    EXPECT_EQ(doc.SourceName(), mp3);
    EXPECT_FALSE(doc.Modified());
    // One group per started block of 512 frames, then the trailing zero group.
    EXPECT_EQ(doc.Index().size(), 2 * ((doc.Frames() + 511) / 512 + 1));
    std::int16_t top = 0;
    for (const auto& e : doc.Index()) top = std::max(top, e.Max);
    EXPECT_GT(doc.Peak(), 1000);
    EXPECT_EQ(doc.Peak(), top);
    EXPECT_EQ(WorkingFiles().size(), 1u);
    doc.Close();
    EXPECT_TRUE(WorkingFiles().empty());
}

TEST_F(Load, OpenWhileBusyIsIgnoredAndReadOnlyFilesBecomeWritable) {
    const std::string a = inputs.file("a.wav");
    const std::string b = inputs.file("b.wav");
    test::WriteWav(a, 1, std::vector<std::int16_t>(1000, 100));
    test::WriteWav(b, 2, std::vector<std::int16_t>(10, 5));
    ::chmod(a.c_str(), 0444);
    doc.Open(a);
    doc.Open(b);  // the Load of a is running
    ASSERT_TRUE(WaitIdle(ui, doc));
    ASSERT_TRUE(doc.Ready());
    EXPECT_EQ(doc.SourceName(), a);
    EXPECT_EQ(doc.Channels(), 1);
    EXPECT_EQ(doc.Frames(), 1000u);
    EXPECT_EQ(doc.Peak(), 100);
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
}

TEST_F(Load, ASourceWithoutSamplesIsAReadyEmptyDocument) {
    const std::string empty = inputs.file("empty.wav");
    test::WriteWav(empty, 2, {});
    ASSERT_TRUE(OpenAndWait(empty));
    EXPECT_EQ(doc.Frames(), 0u);
    EXPECT_EQ(doc.Peak(), 0);
}

// Bad input never crashes or hangs: each file either loads what is decodable or ends with the
// import-failure message, and Close leaves no working file.
TEST_F(Load, BadInputLoadsWhatIsDecodableOrFailsCleanly) {
    const std::string good = inputs.file("good.flac");
    Ffmpeg("-f lavfi -i sine=frequency=300:duration=1 -ac 2 " + good);
    const auto flac = test::ReadFile(good);

    std::mt19937 rng(7);
    std::vector<std::uint8_t> noise(20000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
    auto lying = test::WavHeader(2, 1'000'000);  // claims far more data than follows
    lying.resize(44 + 4000, 0x11);

    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"empty.mp3", {}},
        {"noise.mp3", noise},
        {"noise.flac", noise},
        {"noise.wav", noise},
        {"text.mp3", std::vector<std::uint8_t>(100, 'a')},
        {"lying.wav", lying},
    };
    for (std::size_t cut : {std::size_t{10}, flac.size() / 3, flac.size() - 7})
        cases.push_back({"cut" + std::to_string(cut) + ".flac",
                         std::vector<std::uint8_t>(flac.begin(), flac.begin() + cut)});

    std::vector<std::string> paths;
    for (const auto& c : cases) {
        paths.push_back(inputs.file(c.name));
        WriteBytes(paths.back(), c.bytes);
    }
    paths.push_back(inputs.path());               // a directory
    paths.push_back(inputs.file("missing.mp3"));  // no such file
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        if (OpenAndWait(path)) {
            EXPECT_TRUE(window.warnings.empty());
        } else {
            EXPECT_EQ(window.warnings, (std::vector{kImportFailure}));
            EXPECT_EQ(calls, (std::vector<std::string>{"ready"}));
        }
        doc.Close();
        EXPECT_TRUE(WorkingFiles().empty());
    }
    // The lying header still yields the 1000 frames that are really there.
    ASSERT_TRUE(OpenAndWait(inputs.file("lying.wav")));
    EXPECT_EQ(doc.Frames(), 1000u);
}

}  // namespace
}  // namespace kestrune

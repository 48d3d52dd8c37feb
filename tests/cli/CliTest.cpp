// kestrune-cli as a user runs it: output, exit codes, and no working file left behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class Cli : public ::testing::Test {
  protected:
    // Runs kestrune-cli with `args` (shell words) and TMPDIR set to the working folder.
    Result Run(const std::string& args, const std::string& env = "") {
        const std::string out = files.file("stdout"), err = files.file("stderr");
        const std::string cmd = env + " TMPDIR='" + work.path() + "' " KESTRUNE_CLI " " + args +
                                " >'" + out + "' 2>'" + err + "' </dev/null";
        Result r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Tone(const std::string& name, const std::string& extra = "") {
        const std::string cmd =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
            "sine=frequency=440:duration=3 " +
            extra + " '" + files.file(name) + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    TestDir files;
    TestDir work;
};

TEST_F(Cli, InfoPrintsTheDocument) {
    Tone("a.flac", "-ar 48000 -ac 2 -metadata title=Grüße -metadata artist=Me");
    const Result r = Run("info " + files.file("a.flac"));
    EXPECT_EQ(r.status, 0) << r.err;
    // The peak depends on the decoder's rounding; every other line is exact.
    const auto peak = r.out.find("peak: ");
    ASSERT_NE(peak, std::string::npos);
    EXPECT_GT(std::atoi(r.out.c_str() + peak + 6), 2000);
    const std::string rest = r.out.substr(0, peak) + r.out.substr(r.out.find('\n', peak) + 1);
    EXPECT_EQ(rest,
              "channels: 2\nsamplerate: 44100\nframes: 132300\nduration: 3.000\n"
              "title: Grüße\nartist: Me\n");
    EXPECT_TRUE(work.list().empty());
}

TEST_F(Cli, FailuresAndBadUsageExitWithTheirCodes) {
    std::ofstream(files.file("text.mp3")) << "not audio";
    const Result bad = Run("info " + files.file("text.mp3"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "Could not import audio file. Format not supported or file broken\n");
    EXPECT_EQ(Run("info").status, 2);
    EXPECT_EQ(Run("frobnicate x").status, 2);
    EXPECT_EQ(Run("create only-one-arg").status, 2);
    EXPECT_TRUE(work.list().empty());
}

TEST_F(Cli, CreateExportsTheRangeAndRefusesBadRanges) {
    Tone("a.wav", "-ac 1");
    const std::string in = files.file("a.wav");
    const std::string out = files.file("r.wav");
    Result r = Run("create " + in + " " + out + " --start 0:01.000 --end 00:02.500");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadWavSamples(out).size(), 66150u);  // 1.5 s of mono

    r = Run("create " + in + " " + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("This file already exists. Overwrite?"), std::string::npos);
    EXPECT_EQ(Run("create " + in + " " + out + " --force").status, 0);
    EXPECT_EQ(test::ReadWavSamples(out).size(), 132300u);

    for (const char* range : {"--start 0:02.000 --end 0:01.000", "--end 0:03.001",
                              "--start 9:00.000", "--start 1:2", "--end"}) {
        SCOPED_TRACE(range);
        r = Run("create " + in + " " + files.file("x.m4r") + " " + range);
        EXPECT_EQ(r.status, 2);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(Run("create " + in + " " + files.file("x.ogg")).status, 2);
    EXPECT_FALSE(test::FileExists(files.file("x.m4r")));
    EXPECT_TRUE(work.list().empty());
}

TEST_F(Cli, EffectsApplyInOrderToTheExportedRangeOnly) {
    // A mono ramp: the decoder's ×32767/32768 scaling keeps small integers exact.
    std::vector<std::int16_t> ramp(44100);
    for (int i = 0; i < 44100; ++i) ramp[i] = static_cast<std::int16_t>(i % 1000);
    test::WriteWav(files.file("ramp.wav"), 1, ramp);
    const std::string in = files.file("ramp.wav"), out = files.file("fx.wav");
    Result r = Run("create " + in + " " + out +
                   " --start 0:00.100 --end 0:00.200 --reverse --fade-in 10 --invert");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto got = test::ReadWavSamples(out);
    ASSERT_EQ(got.size(), 4410u);
    const auto source = test::ReadWavSamples(in);
    EXPECT_EQ(got[0], 0);           // the fade starts silent
    const std::size_t last = 4409;  // outside the 441-frame fade: reversed and inverted
    EXPECT_NEAR(got[last], -source[4410], 1);
    EXPECT_NEAR(got[1000], -source[4410 + 4409 - 1000], 1);

    for (const char* bad : {"--normalize 101", "--amplify 201", "--amplify -1", "--fade-in x",
                            "--reverse --normalize"}) {
        SCOPED_TRACE(bad);
        r = Run("create " + in + " " + out + " --force " + bad);
        EXPECT_EQ(r.status, 2);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(
        Run("create " + in + " " + files.file("e.wav") + " --start 0:00.100 --end 0:00.100").status,
        2);
    EXPECT_TRUE(work.list().empty());
}

TEST_F(Cli, PlayPlaysTheRangeOrSaysWhyNot) {
    Tone("a.wav", "-ac 2");
    const std::string in = files.file("a.wav");
    const auto start = std::chrono::steady_clock::now();
    Result r = Run("play " + in + " --start 0:01.000 --end 0:01.500", "SDL_AUDIODRIVER=dummy");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    r = Run("play " + in, "SDL_AUDIODRIVER=no-such-driver");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No sound driver is available for use"), std::string::npos) << r.err;
    EXPECT_EQ(Run("play " + in + " --end 0:09.000", "SDL_AUDIODRIVER=dummy").status, 2);
    EXPECT_EQ(Run("play", "SDL_AUDIODRIVER=dummy").status, 2);
    EXPECT_TRUE(work.list().empty());
}

TEST_F(Cli, AnInterruptStillDeletesTheWorkingFile) {
    const std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
        "anoisesrc=duration=600:sample_rate=48000 -ac 2 '" +
        files.file("long.flac") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TMPDIR", work.path().c_str(), 1);
        ::execl(KESTRUNE_CLI, KESTRUNE_CLI, "info", files.file("long.flac").c_str(), nullptr);
        ::_exit(127);
    }
    // Interrupt once the Load has begun writing its working file.
    for (int i = 0; i < 400 && work.list().empty(); ++i) ::usleep(5000);
    EXPECT_FALSE(work.list().empty());
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_TRUE(work.list().empty());
}

}  // namespace
}  // namespace kestrune

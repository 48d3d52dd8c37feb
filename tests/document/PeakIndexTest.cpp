#include <gtest/gtest.h>

#include "document/TFilter.h"
#include "document/Twavefile.h"
#include "tests/support/DocumentAccess.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;

// Stereo frames whose left sample is the frame number mod 1000 and right its negation.
std::vector<std::int16_t> Ramp(std::uint32_t frames) {
    std::vector<std::int16_t> s(2 * frames);
    for (std::uint32_t f = 0; f < frames; ++f) {
        s[2 * f] = static_cast<std::int16_t>(f % 1000);
        s[2 * f + 1] = static_cast<std::int16_t>(-static_cast<int>(f % 1000) - 1);
    }
    return s;
}

Tindexdata Incremental(const std::vector<std::int16_t>& samples, int channels,
                       std::int16_t* peak = nullptr) {
    TFilter filter(channels);
    // Feed in uneven chunks, as a decoder does.
    for (std::size_t i = 0; i < samples.size(); i += 777) {
        const auto n = std::min<std::size_t>(777, samples.size() - i);
        filter.Add(samples.data() + i, static_cast<std::uint32_t>(2 * n));
    }
    Tindexdata out;
    filter.Finish(out);
    if (peak) *peak = filter.Peak();
    return out;
}

TEST(TFilter, GroupsPerBlockThenOneZeroGroup) {
    struct Case {
        std::uint32_t frames;
        Tindexdata expected;
    };
    const Case cases[] = {
        {1000, {{511, 0}, {-1, -512}, {999, 512}, {-513, -1000}, {0, 0}, {0, 0}}},
        {1024, {{511, 0}, {-1, -512}, {999, 0}, {-1, -1000}, {0, 0}, {0, 0}}},
        {0, {{-32768, 32767}, {-32768, 32767}, {0, 0}, {0, 0}}},
    };
    for (const auto& c : cases) {
        std::int16_t peak = -1;
        EXPECT_EQ(Incremental(Ramp(c.frames), 2, &peak), c.expected) << c.frames << " frames";
        EXPECT_EQ(peak, c.frames ? 999 : 0);
    }
}

TEST(TFilter, OddByteLengthIgnoresTheLastByteAndNegativeBlocksKeepTheirMaximum) {
    TFilter filter(1);
    const std::int16_t s[] = {-5, -3, 32000};
    filter.Add(s, 5);  // two samples and half of the third
    Tindexdata out;
    filter.Finish(out);
    EXPECT_EQ(out, (Tindexdata{{-3, -5}, {0, 0}}));
    EXPECT_EQ(filter.Peak(), 0);
}

class Rebuild : public ::testing::Test {
  protected:
    // A document on `samples` (stereo) whose index is rebuilt from the store.
    void RebuildFrom(const std::vector<std::int16_t>& samples, std::uint16_t channels = 2) {
        const std::string path = dir.file("w.wav");
        test::WriteWav(path, channels, samples);
        TwavefileTestAccess::Adopt(doc, path);
        TwavefileTestAccess::Run(doc, TOperation::RebuildIndex);
        ASSERT_TRUE(WaitIdle(ui, doc));
    }
    TestDir dir;
    UiQueue ui;
    test::RecordingWindow window;
    Twavefile doc{ui, window};
};

TEST_F(Rebuild, LastGroupCoversThePartialBlockWithoutAZeroGroup) {
    RebuildFrom(Ramp(1000));
    EXPECT_EQ(doc.Index(), (Tindexdata{{511, 0}, {0, -512}, {999, 512}, {0, -1000}}));
    EXPECT_EQ(doc.Peak(), 999);
    EXPECT_TRUE(doc.Ready());
}

TEST_F(Rebuild, WholeBlocksEndWithAnEmptyGroup) {
    RebuildFrom(Ramp(1024));
    ASSERT_EQ(doc.Index().size(), 6u);
    EXPECT_EQ(doc.Index()[4], (Tindextype{0, 0}));
    EXPECT_EQ(doc.Index()[5], (Tindextype{0, 0}));
}

TEST_F(Rebuild, AtMostOneBlockLeavesIndexAndPeakAlone) {
    RebuildFrom(Ramp(512));
    EXPECT_TRUE(doc.Index().empty());
    EXPECT_EQ(doc.Peak(), 0);
}

TEST_F(Rebuild, NoPositiveSampleGivesPeakZero) {
    RebuildFrom(std::vector<std::int16_t>(1500, -7), 1);
    EXPECT_EQ(doc.Index(), (Tindexdata{{0, -7}, {0, -7}, {0, -7}}));
    EXPECT_EQ(doc.Peak(), 0);
}

}  // namespace
}  // namespace kestrune

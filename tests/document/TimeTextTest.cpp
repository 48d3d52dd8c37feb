#include "document/TimeText.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(TimeText, ConversionsRoundThroughSinglePrecision) {
    EXPECT_EQ(FramesToMs(44100, 44100), 1000u);
    EXPECT_EQ(MsToFrames(1000, 44100), 44100u);
    EXPECT_EQ(MsToFrames(30000, 44100), 1323000u);
    EXPECT_EQ(MsToFrames(1, 44100), 44u);    // 44.1
    EXPECT_EQ(MsToFrames(5, 44100), 220u);   // 220.5 rounds to even
    EXPECT_EQ(MsToFrames(15, 44100), 662u);  // 661.5 rounds to even
    // Single precision: 3 h 22 min in ms times 44.1 is not exact in a float.
    const std::uint32_t ms = 12'120'001;
    EXPECT_EQ(MsToFrames(ms, 44100),
              static_cast<std::uint32_t>(std::nearbyint(static_cast<float>(ms / 1000.0f * 44100))));
}

TEST(TimeText, WritesAndReadsMinutesSecondsMillis) {
    EXPECT_EQ(MsToTimeText(0), "00:00.000");
    EXPECT_EQ(MsToTimeText(65250), "01:05.250");
    EXPECT_EQ(MsToTimeText(6000000), "100:00.000");
    for (const char* t : {"0:30.000", "00:30.000", "000:30.000"})
        EXPECT_EQ(TimeTextToMs(t), 30000u);
    EXPECT_EQ(TimeTextToMs("001:05.250"), 65250u);
    for (const char* bad : {"", "30", "1:30", "1.30:00", "a:00.000", "1:-5.000", "1:00.", ":00.000",
                            "99999999999:00.000"})
        EXPECT_FALSE(TimeTextToMs(bad)) << bad;
}

}  // namespace
}  // namespace kestrune

// The player: its arithmetic, what reaches the device (through SDL's disk driver), the
// positions and status it reports, and its hand-shake with the document.

#include "playback/TPlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "document/Twavefile.h"
#include "platform/PlaybackIdle.h"
#include "playback/EDirectSoundError.h"
#include "playback/TDirectSoundBuffer.h"
#include "tests/playback/PlaybackSupport.h"
#include "tests/support/DocumentAccess.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;

TWaveFormatEx Pcm16(std::uint16_t channels, std::uint32_t rate = 44100) {
    return Pcm16Format(channels, rate);
}

TEST(TPlayerArithmeticTest, ChunkAndBufferSizes) {
    const struct {
        TWaveFormatEx format;
        std::uint64_t chunk;
    } cases[] = {
        {Pcm16(2), 11028},         // 176400 / 16 = 11025, rounded up to whole frames
        {Pcm16(1), 5512},          // 88200 / 16 = 5512 (truncated), already whole frames
        {Pcm16(2, 8000), 2000},    // exact
        {Pcm16(6, 44100), 33084},  // 529200 / 16 = 33075, rounded up to 12-byte frames
        {{WAVE_FORMAT_PCM, 2, 44100, 176400, 0, 16, 0}, 0},  // no frames at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TPlayer::ChunkSizeOf(c.format), c.chunk) << c.format.nChannels;
        if (c.format.nBlockAlign != 0) {
            EXPECT_EQ(c.chunk % c.format.nBlockAlign, 0u);
        }
    }
}

TEST(TPlayerArithmeticTest, NotificationOffsetsEndOnTheRingsLastByteAndTheStop) {
    const auto offsets = TPlayer::NotificationOffsets(11028);
    EXPECT_EQ(offsets[0], 11028u);
    EXPECT_EQ(offsets[1], 22056u);
    EXPECT_EQ(offsets[14], 165420u);
    EXPECT_EQ(offsets[15], 176447u);
    EXPECT_EQ(offsets[16], 0xFFFFFFFFu);
}

TEST(TPlayerArithmeticTest, TheExtensibleRecordCarriesTheFormatAndItsSpeakers) {
    const TWaveFormatExtensible x = TPlayer::ExtensibleFormat(Pcm16(2));
    EXPECT_EQ(x.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(x.Format.nChannels, 2);
    EXPECT_EQ(x.Format.nSamplesPerSec, 44100u);
    EXPECT_EQ(x.Format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(x.Format.nBlockAlign, 4);
    EXPECT_EQ(x.Format.wBitsPerSample, 16);
    EXPECT_EQ(x.Format.cbSize, 22);
    EXPECT_EQ(x.wValidBitsPerSample, 16);
    EXPECT_EQ(x.dwChannelMask, 0x3u);
    EXPECT_TRUE(x.SubFormat == KSDATAFORMAT_SUBTYPE_PCM);
    const std::pair<std::uint32_t, std::uint32_t> masks[] = {
        {1, 0x4}, {2, 0x3}, {3, 0xB}, {4, 0x33}, {5, 0x3B}, {6, 0x3F}, {7, 0}, {8, 0xFF}, {9, 0}};
    for (const auto& [channels, mask] : masks) EXPECT_EQ(TPlayer::ChannelMask(channels), mask);
}

// A document, a player on SDL's disk driver, and what they report.
class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::UseDiskDriver(output, 4);  // about 2.9 times as fast as real time
        player.OnPlayStatus = [this](bool action) { statuses.push_back(action); };
        player.OnPlayProcess = [this](std::int32_t index) { positions.push_back(index); };
    }

    // A document of `frames` non-silent frames.
    void Load(std::uint16_t c, std::uint32_t frames) {
        channels = c;
        samples = test::NonSilentSignal(std::size_t{frames} * c, frames + c);
        test::WriteWav(dir.file("work.wav"), c, samples);
        TwavefileTestAccess::Adopt(doc, dir.file("work.wav"));
    }
    // Opens [first, first + frames) as the view does.
    void OpenRange(std::uint32_t first, std::uint32_t frames) {
        player.Open(doc, first * channels, Pcm16(channels),
                    static_cast<std::int32_t>(frames * channels * 2));
    }
    std::vector<std::int16_t> Range(std::uint32_t first, std::uint32_t frames) const {
        return {samples.begin() + first * channels, samples.begin() + (first + frames) * channels};
    }
    bool Stopped() const { return !statuses.empty() && !statuses.back(); }
    bool PlayToEnd() {
        player.Play();
        return PumpUntil(ui, [this] { return Stopped(); });
    }
    // Closes the player (so that the device has written everything) and returns what reached
    // the device, without the silence before and after.
    std::vector<std::int16_t> Reached() {
        player.Close();
        const auto bytes = test::ReadFile(output);
        std::vector<std::int16_t> s(bytes.size() / 2);
        if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * 2);
        const auto first = std::find_if(s.begin(), s.end(), [](auto v) { return v != 0; });
        const auto last = std::find_if(s.rbegin(), s.rend(), [](auto v) { return v != 0; }).base();
        if (first >= last) return {};
        EXPECT_EQ((first - s.begin()) % channels, 0) << "the signal starts inside a frame";
        return {first, last};
    }
    // What reached the device was a start of `range`, perhaps silence, then all of `range`.
    void ExpectPartThenWhole(const std::vector<std::int16_t>& range) {
        const auto got = Reached();
        ASSERT_GT(got.size(), range.size());
        EXPECT_TRUE(std::equal(range.begin(), range.end(), got.end() - std::ssize(range)));
        auto head = std::vector<std::int16_t>(got.begin(), got.end() - std::ssize(range));
        while (!head.empty() && head.back() == 0) head.pop_back();
        ASSERT_LT(head.size(), range.size());
        EXPECT_TRUE(std::equal(head.begin(), head.end(), range.begin())) << "the interrupted start";
    }

    test::TestDir dir;
    const std::string output = dir.file("device.raw");
    UiQueue ui;
    test::RecordingWindow window;
    Twavefile doc{ui, window};
    TPlayer player{ui};
    std::uint16_t channels = 0;
    std::vector<std::int16_t> samples;
    std::vector<bool> statuses;
    std::vector<std::int32_t> positions;
};

// Chunks: 2757 frames in stereo, 2756 in mono; the ring holds 16 of them (about 1 s).
struct RangeCase {
    std::uint16_t channels;
    std::uint32_t frames;
    const char* what;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.what;
}

class PlayerRangeTest : public PlayerTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(PlayerRangeTest, ExactlyTheRangeReachesTheDeviceAndTheLastPositionIsItsLength) {
    const RangeCase c = GetParam();
    Load(c.channels, c.frames + 3000);
    player.Initialize();
    OpenRange(1000, c.frames);
    ASSERT_TRUE(PlayToEnd());
    EXPECT_EQ(statuses, (std::vector<bool>{false, false, true, false}));
    EXPECT_FALSE(player.Playing());
    EXPECT_TRUE(PlaybackIdle.isSet());

    const auto length = static_cast<std::int32_t>(c.frames * c.channels * 2);
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), length);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_LE(*std::max_element(positions.begin(), positions.end()), length);

    const auto got = Reached();
    const auto range = Range(1000, c.frames);
    ASSERT_EQ(got.size(), range.size()) << "samples reached the device";
    EXPECT_TRUE(got == range);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, PlayerRangeTest,
    ::testing::Values(RangeCase{1, 1000, "mono, shorter than a chunk"},
                      RangeCase{2, 1000, "stereo, shorter than a chunk"},
                      RangeCase{1, 20000, "mono, between a chunk and the ring"},
                      RangeCase{2, 20000, "stereo, between a chunk and the ring"},
                      RangeCase{1, 101430, "mono, 2.3 rings"},
                      RangeCase{2, 101430, "stereo, 2.3 rings"},
                      RangeCase{2, 20 * 2757, "stereo, exactly 20 chunks"}),
    [](const auto& info) {
        return std::string(info.param.channels == 1 ? "Mono" : "Stereo") +
               std::to_string(info.param.frames);
    });

// A UI thread that handles notifications late, unevenly, and very late at the end: the range
// still reaches the device whole, and only silence follows it.
TEST_F(PlayerTest, ASlowUiThreadStillGetsExactlyTheRange) {
    Load(2, 110000);
    player.Initialize();
    // Lengths a few hundred frames apart across one chunk, then one of several rings.
    const struct {
        std::uint32_t frames;
        bool lateEnd;  // the end's report takes about five chunks
    } cases[] = {{8000, false}, {8459, false},  {8918, false}, {9377, false},
                 {9836, false}, {10295, false}, {100000, true}};
    for (const auto& c : cases) {
        const std::uint32_t n = c.frames;
        OpenRange(0, n);
        const auto length = static_cast<std::int32_t>(n * 4);
        int calls = 0;
        player.OnPlayProcess = [&](std::int32_t index) {
            if (index == length && c.lateEnd)
                std::this_thread::sleep_for(100ms);
            else if (++calls % 2)
                std::this_thread::sleep_for(30ms);  // about 1.5 chunks
        };
        statuses.clear();
        ASSERT_TRUE(PlayToEnd()) << n;
        EXPECT_TRUE(Reached() == Range(0, n)) << n << " frames";
    }
}

TEST_F(PlayerTest, PlayWhilePlayingRestartsFromTheRangeStart) {
    Load(2, 30000);
    player.Initialize();
    OpenRange(500, 20000);
    player.Play();
    ASSERT_TRUE(PumpUntil(ui, [&] { return positions.size() >= 3; }));
    positions.clear();
    player.Play();
    EXPECT_EQ(statuses, (std::vector<bool>{false, false, true, false, true}));
    ASSERT_TRUE(PumpUntil(ui, [&] { return Stopped(); }));
    ASSERT_FALSE(positions.empty());
    EXPECT_LE(positions.front(), 2 * 11028) << "positions count again from the start";
    EXPECT_EQ(positions.back(), 20000 * 4);
    ExpectPartThenWhole(Range(500, 20000));
}

TEST_F(PlayerTest, StopThenPlayReplaysTheRange) {
    Load(1, 30000);
    player.Initialize();
    OpenRange(0, 20000);
    player.Play();
    ASSERT_TRUE(PumpUntil(ui, [&] { return positions.size() >= 3; }));
    // Busy for a while, so a notification waits in the queue when playback stops; handled
    // after the stop, it must leave the rewound ring alone.
    std::this_thread::sleep_for(60ms);
    player.Stop();
    EXPECT_EQ(statuses, (std::vector<bool>{false, false, true, false}));
    EXPECT_TRUE(PlaybackIdle.isSet());
    test::PumpFor(ui, 50ms);
    ASSERT_TRUE(PlayToEnd());
    EXPECT_EQ(statuses, (std::vector<bool>{false, false, true, false, true, false}));
    ExpectPartThenWhole(Range(0, 20000));
}

TEST_F(PlayerTest, ALengthPastTheStoreOrInsideAFrameIsCutToWholeFramesOfTheStore) {
    Load(2, 6000);
    player.Initialize();
    player.Open(doc, 2 * 5000, Pcm16(2), 4 * 3000 + 3);  // 3000 frames and 3 bytes from 5000
    EXPECT_EQ(player.Length(), 4 * 1000);
    ASSERT_TRUE(PlayToEnd());
    EXPECT_EQ(positions.back(), 4 * 1000);
    EXPECT_TRUE(Reached() == Range(5000, 1000));
}

TEST_F(PlayerTest, ARingBufferThatCannotBeMadeLeavesNothingToPlay) {
    Load(2, 6000);
    player.Initialize();
    TWaveFormatEx tooFast = Pcm16(2, 400000);
    EXPECT_THROW(player.Open(doc, 0, tooFast, 4000), EDirectSoundError);
    EXPECT_EQ(player.Buffer(), nullptr);
    player.Play();
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(statuses.back(), false);
    EXPECT_TRUE(PlaybackIdle.isSet());
}

TEST_F(PlayerTest, CloseThenPlayReportsNotPlayingAndPlaysNothing) {
    Load(2, 10000);
    player.Initialize();
    OpenRange(0, 10000);
    player.Close();
    player.Play();
    EXPECT_EQ(statuses, (std::vector<bool>{false, false, false, false}));
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(player.Buffer(), nullptr);
    EXPECT_TRUE(PlaybackIdle.isSet());
    test::PumpFor(ui, 50ms);
    EXPECT_TRUE(Reached().empty());
}

// The stop report arrives inside the notification that ended playback; from there the owner
// plays the range again, and after that closes the player.
TEST_F(PlayerTest, TheStopReportMayPlayAgainOrClose) {
    Load(2, 5000);
    player.Initialize();
    OpenRange(1000, 3000);
    int ends = 0;
    bool idleWhilePlaying = false;
    player.OnPlayStatus = [&](bool action) {
        statuses.push_back(action);
        if (action || statuses.size() < 4) return;
        ++ends;
        if (ends == 1) player.Play();
        if (ends == 2) player.Close();
    };
    player.OnPlayProcess = [&](std::int32_t index) {
        positions.push_back(index);
        idleWhilePlaying = idleWhilePlaying || PlaybackIdle.isSet();
    };
    player.Play();
    ASSERT_TRUE(PumpUntil(ui, [&] { return ends == 3; }));  // Close reports once more
    EXPECT_EQ(statuses, (std::vector<bool>{false, false, true, false, true, false, false}));
    EXPECT_FALSE(idleWhilePlaying);
    EXPECT_TRUE(PlaybackIdle.isSet());
    EXPECT_EQ(player.Buffer(), nullptr);
    test::PumpFor(ui, 30ms);  // the notification thread's join, left to the queue

    const auto range = Range(1000, 3000);
    auto twice = range;
    twice.insert(twice.end(), range.begin(), range.end());
    auto got = Reached();
    got.erase(std::remove(got.begin(), got.end(), 0), got.end());  // the silence between
    EXPECT_TRUE(got == twice);
}

std::atomic<bool> operationRan{false};

TEST_F(PlayerTest, AnOperationRequestedDuringPlaybackRunsOncePlaybackStops) {
    Load(2, 120000);
    player.Initialize();
    OpenRange(0, 120000);
    operationRan = false;
    bool ranWhilePlaying = false;
    player.OnPlayProcess = [&](std::int32_t index) {
        positions.push_back(index);
        ranWhilePlaying = ranWhilePlaying || operationRan;
    };
    player.Play();
    EXPECT_FALSE(PlaybackIdle.isSet());
    ASSERT_TRUE(PumpUntil(ui, [&] { return positions.size() >= 2; }));
    TwavefileTestAccess::Run(doc, TOperation::Normalize, [](Twavefile&) { operationRan = true; });
    ASSERT_TRUE(doc.Busy());
    ASSERT_TRUE(PumpUntil(ui, [&] { return positions.size() >= 8; }));
    EXPECT_FALSE(operationRan) << "the operation ran during playback";
    player.Stop();
    EXPECT_TRUE(WaitIdle(ui, doc));
    EXPECT_TRUE(operationRan);
    EXPECT_FALSE(ranWhilePlaying);
}

TEST_F(PlayerTest, ClosingTheDocumentStopsPlaybackAtTheNextNotification) {
    Load(2, 120000);
    player.Initialize();
    OpenRange(0, 120000);
    player.Play();
    ASSERT_TRUE(PumpUntil(ui, [&] { return positions.size() >= 2; }));
    doc.Close();  // releases the store the player reads
    const std::size_t reported = positions.size();
    ASSERT_TRUE(PumpUntil(
        ui, [&] { return Stopped(); }, 2s));
    EXPECT_EQ(positions.size(), reported) << "positions reported after the document closed";
    EXPECT_TRUE(PlaybackIdle.isSet());
    EXPECT_FALSE(player.Playing());
}

// The document is closed and another file adopted before the next notification: the player
// never reads the new store.
TEST_F(PlayerTest, ANewStoreInTheDocumentStopsPlaybackUnread) {
    Load(2, 120000);
    player.Initialize();
    OpenRange(0, 120000);
    player.Play();
    ASSERT_TRUE(PumpUntil(ui, [&] { return positions.size() >= 2; }));
    doc.Close();
    const auto other = test::NonSilentSignal(2 * 120000, 77);
    test::WriteWav(dir.file("other.wav"), 2, other);
    TwavefileTestAccess::Adopt(doc, dir.file("other.wav"));
    ASSERT_TRUE(doc.Ready());
    const std::size_t reported = positions.size();
    ASSERT_TRUE(PumpUntil(
        ui, [&] { return Stopped(); }, 2s));
    EXPECT_EQ(positions.size(), reported);
    const auto got = Reached();
    const auto range = Range(0, 120000);
    ASSERT_LE(got.size(), range.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), range.begin())) << "other samples were played";
}

// Undo swaps the working file on the UI thread at once: the player, told through the document's
// onReleasing, stops before the old store goes, and the rebuild then runs without waiting.
TEST_F(PlayerTest, UndoDuringPlaybackStopsItBeforeTheStoreIsReleased) {
    Load(2, 120000);
    doc.onReleasing = [this](Twavefile&) { player.Close(); };
    doc.Invert();
    ASSERT_TRUE(WaitIdle(ui, doc));
    player.Initialize();
    OpenRange(0, 120000);
    player.Play();
    ASSERT_TRUE(PumpUntil(ui, [&] { return positions.size() >= 2; }));
    doc.Undo();
    EXPECT_FALSE(player.Playing());
    EXPECT_TRUE(PlaybackIdle.isSet());
    EXPECT_TRUE(WaitIdle(ui, doc, 2));
    EXPECT_TRUE(doc.Ready());
    EXPECT_EQ(test::ReadWavSamples(doc.WorkFile()), samples);
}

TEST_F(PlayerTest, WithoutASoundDeviceNothingPlaysAndNothingBreaks) {
    test::UseAudioDriver("no-such-driver");
    Load(2, 10000);
    try {
        player.Initialize();
        FAIL() << "Initialize found a device";
    } catch (const EDirectSoundError& e) {
        EXPECT_EQ(e.ErrorCode(), DSERR_NODRIVER);
        EXPECT_NE(std::string(e.what()).find("No sound driver is available for use"),
                  std::string::npos);
    }
    EXPECT_FALSE(player.HasDevice());
    OpenRange(0, 10000);
    player.Play();
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(statuses, (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(PlaybackIdle.isSet());
    player.Stop();
    player.Shutdown();
}

}  // namespace
}  // namespace kestrune

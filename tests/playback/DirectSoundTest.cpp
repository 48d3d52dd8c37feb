// The DirectSound-style layer over SDL2: result texts, buffer creation, locking, notifications
// and their thread, and the device's ownership of its buffers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "playback/CheckResult.h"
#include "playback/EDirectSoundError.h"
#include "playback/EDirectSoundNotifyError.h"
#include "playback/TDirectSound.h"
#include "playback/TDirectSoundBuffer.h"
#include "playback/TNotifyThread.h"
#include "tests/playback/PlaybackSupport.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using test::PumpFor;
using test::PumpUntil;

TWaveFormatEx Pcm16(std::uint16_t channels, std::uint32_t rate = 44100) {
    return Pcm16Format(channels, rate);
}

TDSBufferDesc Streaming(const TWaveFormatEx& format, std::uint32_t bytes,
                        std::uint32_t flags = DSBCAPS_CTRLPOSITIONNOTIFY) {
    TDSBufferDesc d;
    d.dwFlags = flags;
    d.dwBufferBytes = bytes;
    d.lpwfxFormat = &format;
    return d;
}

std::string MessageOf(std::int32_t code) {
    try {
        CheckResult(code);
    } catch (const EDirectSoundError& e) {
        EXPECT_EQ(e.ErrorCode(), code);
        return e.what();
    }
    return "(no error)";
}

TEST(CheckResultTest, ZeroPassesAndEveryOtherCodeRaisesItsText) {
    EXPECT_NO_THROW(CheckResult(0));
    const struct {
        std::uint32_t code;
        const char* message;
    } cases[] = {
        {0x88780064,
         "DirectSound call failed: 88780064\rThe specified WAVE format is not supported"},
        {0x88780078, "DirectSound call failed: 88780078\rNo sound driver is available for use"},
        {0x80070057,
         "DirectSound call failed: 80070057\rAn invalid parameter was passed to the returning "
         "function."},
        {0x12345678, "DirectSound call failed: 12345678\rUnrecognized error value."},
        {0x1, "DirectSound call failed: 1\rUnrecognized error value."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageOf(static_cast<std::int32_t>(c.code)), c.message) << std::hex << c.code;
}

class DirectSoundTest : public ::testing::Test {
  protected:
    void SetUp() override { test::UseAudioDriver("dummy"); }
    test::TestDir dir;
    UiQueue ui;
};

TEST_F(DirectSoundTest, ADeviceThatDoesNotExistIsNoDriver) {
    test::UseAudioDriver("no-such-driver");
    try {
        TDirectSound device(ui);
        FAIL() << "made a device without a driver";
    } catch (const EDirectSoundError& e) {
        EXPECT_EQ(e.ErrorCode(), DSERR_NODRIVER);
        EXPECT_NE(std::string(e.what()).find("No sound driver is available for use"),
                  std::string::npos);
    }
}

TEST_F(DirectSoundTest, BadDescriptionsAreRefusedWithTheirCodes) {
    TDirectSound device(ui);
    TWaveFormatEx pcm24{WAVE_FORMAT_PCM, 2, 44100, 44100 * 6, 6, 24, 0};
    TWaveFormatEx badAlign = Pcm16(2);
    badAlign.nBlockAlign = 2;
    const TWaveFormatEx stereo = Pcm16(2);
    TDSBufferDesc wrongSize = Streaming(stereo, 4096);
    wrongSize.dwSize = 40;
    TDSBufferDesc noFormat = Streaming(stereo, 4096);
    noFormat.lpwfxFormat = nullptr;
    const struct {
        const char* what;
        TDSBufferDesc desc;
        std::int32_t code;
    } cases[] = {
        {"24-bit", Streaming(pcm24, 6000), DSERR_BADFORMAT},
        {"inconsistent block align", Streaming(badAlign, 4096), DSERR_BADFORMAT},
        {"too small", Streaming(stereo, 0), DSERR_INVALIDPARAM},
        {"not whole frames", Streaming(stereo, 4098), DSERR_INVALIDPARAM},
        {"record size", wrongSize, DSERR_INVALIDPARAM},
        {"no format", noFormat, DSERR_INVALIDPARAM},
    };
    for (const auto& c : cases) {
        try {
            TDirectSoundBuffer buffer(device, c.desc);
            ADD_FAILURE() << c.what << " was accepted";
        } catch (const EDirectSoundError& e) {
            EXPECT_EQ(e.ErrorCode(), c.code) << c.what;
        }
    }
    EXPECT_EQ(device.Buffers().size(), 1u) << "only the primary buffer is left";
}

TEST_F(DirectSoundTest, LockGivesTwoRegionsWhenTheRangeWraps) {
    TDirectSound device(ui);
    const TWaveFormatEx f = Pcm16(2);
    TDirectSoundBuffer buffer(device, Streaming(f, 4000));
    const TLockRegions whole = buffer.Lock(0, 4000, 0);
    EXPECT_EQ(whole.bytes1, 4000u);
    EXPECT_EQ(whole.ptr2, nullptr);
    const TLockRegions wrapped = buffer.Lock(3900, 300, 0);
    EXPECT_EQ(wrapped.ptr1, whole.ptr1 + 3900);
    EXPECT_EQ(wrapped.bytes1, 100u);
    EXPECT_EQ(wrapped.ptr2, whole.ptr1);
    EXPECT_EQ(wrapped.bytes2, 200u);
    buffer.Unlock(wrapped);
    buffer.Unlock(whole);
    EXPECT_THROW(buffer.Lock(4000, 4, 0), EDirectSoundError);
    EXPECT_THROW(buffer.Lock(0, 4001, 0), EDirectSoundError);
}

TEST_F(DirectSoundTest, SixtyThreePositionsAreAcceptedAndSixtyFourRefused) {
    TDirectSound device(ui);
    const TWaveFormatEx f = Pcm16(2);
    TDirectSoundBuffer buffer(device, Streaming(f, 64 * 400));
    std::vector<std::uint32_t> offsets(64);
    for (std::uint32_t i = 0; i < offsets.size(); ++i) offsets[i] = i * 400;
    EXPECT_NO_THROW(buffer.SetNotifications(std::span(offsets).first(63)));
    try {
        buffer.SetNotifications(offsets);
        FAIL() << "64 positions were accepted";
    } catch (const EDirectSoundNotifyError& e) {
        EXPECT_STREQ(e.what(), "Notification positions exceed maximum of 64");
    }
}

TEST_F(DirectSoundTest, ABufferWithoutNotifyControlRefusesNotifications) {
    TDirectSound device(ui);
    const TWaveFormatEx f = Pcm16(1);
    TDirectSoundBuffer buffer(device, Streaming(f, 4000, 0));
    const std::uint32_t offsets[] = {0};
    try {
        buffer.SetNotifications(offsets);
        FAIL();
    } catch (const EDirectSoundError& e) {
        EXPECT_EQ(e.ErrorCode(), DSERR_CONTROLUNAVAIL);
    }
}

// One shot through the disk driver: the ring's bytes reach the device once, the cursor's
// passing of each offset and the stop at the end arrive as notifications on the UI thread.
TEST_F(DirectSoundTest, AOneShotBufferPlaysItsBytesOnceAndNotifiesTheStop) {
    const std::string out = dir.file("device.raw");
    test::UseDiskDriver(out, 2);
    const auto signal = test::NonSilentSignal(2 * 3000);
    {
        TDirectSound device(ui);
        const TWaveFormatEx f = Pcm16(2);
        TDirectSoundBuffer buffer(device, Streaming(f, 12000));
        const TLockRegions r = buffer.Lock(0, 12000, 0);
        std::memcpy(r.ptr1, signal.data(), 12000);
        buffer.Unlock(r);
        std::vector<std::int32_t> seen;
        buffer.OnNotify = [&](TDirectSoundBuffer&, std::int32_t i) { seen.push_back(i); };
        const std::uint32_t offsets[] = {0, 6000, 11999, DSBPN_OFFSETSTOP};
        buffer.SetNotifications(offsets);
        buffer.Play(0);
        ASSERT_TRUE(PumpUntil(ui, [&] { return !seen.empty() && seen.back() == 3; }));
        EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 1, 2, 3}));
        EXPECT_EQ(buffer.GetPlayCursor(), 0u);
    }
    const auto played = test::ReadFile(out);
    std::vector<std::int16_t> samples(played.size() / 2);
    std::memcpy(samples.data(), played.data(), samples.size() * 2);
    const auto first = std::find_if(samples.begin(), samples.end(), [](auto s) { return s != 0; });
    ASSERT_NE(first, samples.end());
    ASSERT_GE(samples.end() - first, static_cast<std::ptrdiff_t>(signal.size()));
    EXPECT_TRUE(std::equal(signal.begin(), signal.end(), first));
    EXPECT_TRUE(std::all_of(first + static_cast<std::ptrdiff_t>(signal.size()), samples.end(),
                            [](auto s) { return s == 0; }));
}

// The old thread is blocked handing a notification to the UI thread when the notifications
// are replaced: that notification is dropped, and nothing of the old set arrives later.
TEST_F(DirectSoundTest, ReplacingNotificationsEndsTheOldThreadFirst) {
    TDirectSound device(ui);
    const TWaveFormatEx f = Pcm16(2);
    TDirectSoundBuffer buffer(device, Streaming(f, 17640));  // 0.1 s
    std::vector<std::int32_t> seen;
    buffer.OnNotify = [&](TDirectSoundBuffer&, std::int32_t i) { seen.push_back(i); };
    const std::uint32_t old[] = {0, 3000, 6000, 9000, 12000, DSBPN_OFFSETSTOP};
    buffer.SetNotifications(old);
    buffer.Play(DSBPLAY_LOOPING);
    ASSERT_TRUE(PumpUntil(ui, [&] { return seen.size() >= 3; }));
    // Not pumping: the old thread fills up with notifications and blocks in the hand-over.
    std::this_thread::sleep_for(60ms);
    buffer.Stop();
    const std::size_t before = seen.size();
    const std::uint32_t replacement[] = {8820, DSBPN_OFFSETSTOP};
    buffer.SetNotifications(replacement);
    PumpFor(ui, 100ms);
    EXPECT_EQ(seen.size(), before) << "a notification of the old set ran after the replacement";

    buffer.Play(DSBPLAY_LOOPING);
    ASSERT_TRUE(PumpUntil(ui, [&] { return seen.size() >= before + 2; }));
    buffer.Stop();
    ASSERT_TRUE(PumpUntil(ui, [&] { return seen.back() == 1; })) << "the stop notification";
    for (std::size_t i = before; i < seen.size(); ++i) EXPECT_LE(seen[i], 1) << i;
}

TEST_F(DirectSoundTest, DestroyingTheDeviceReleasesItsBuffers) {
    auto device = std::make_unique<TDirectSound>(ui);
    const TWaveFormatEx f = Pcm16(2);
    {
        TDirectSoundBuffer shortLived(*device, Streaming(f, 4000));
        EXPECT_EQ(device->Buffers().size(), 2u);
    }
    ASSERT_EQ(device->Buffers().size(), 1u);
    auto playing = std::make_unique<TDirectSoundBuffer>(*device, Streaming(f, 17640));
    ASSERT_EQ(device->Buffers().size(), 2u);
    EXPECT_EQ(device->Buffers()[0], &device->PrimaryBuffer());
    EXPECT_EQ(device->Buffers()[1], playing.get());
    try {
        TDirectSoundBuffer second(*device, Streaming(f, 4000));
        ADD_FAILURE() << "the dummy driver's one device opened twice";
    } catch (const EDirectSoundError& e) {
        EXPECT_EQ(e.ErrorCode(), DSERR_ALLOCATED);
    }

    int notified = 0;
    playing->OnNotify = [&](TDirectSoundBuffer&, std::int32_t) { ++notified; };
    const std::uint32_t offsets[] = {0, 8820};
    playing->SetNotifications(offsets);
    playing->Play(DSBPLAY_LOOPING);
    ASSERT_TRUE(PumpUntil(ui, [&] { return notified > 0; }));

    device.reset();
    EXPECT_FALSE(playing->Alive());
    const int after = notified;
    PumpFor(ui, 50ms);
    EXPECT_EQ(notified, after) << "a released buffer still notifies";
    try {
        playing->Play(DSBPLAY_LOOPING);
        FAIL() << "a released buffer played";
    } catch (const EDirectSoundError& e) {
        EXPECT_EQ(e.ErrorCode(), DSERR_INVALIDCALL);
    }
    playing.reset();
}

}  // namespace
}  // namespace kestrune

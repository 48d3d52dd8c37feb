#include "platform/MemoryClipboard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kestrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MemoryClipboard, OneOpenerAtATime) {
    TMemoryClipboard clipboard;
    EXPECT_FALSE(clipboard.IsOpen());
    ASSERT_TRUE(clipboard.Open());
    EXPECT_TRUE(clipboard.IsOpen());
    EXPECT_FALSE(clipboard.Open());
    bool otherThread = true;
    std::thread([&] { otherThread = clipboard.Open(); }).join();
    EXPECT_FALSE(otherThread);
    clipboard.Close();
    EXPECT_FALSE(clipboard.IsOpen());
    EXPECT_TRUE(clipboard.Open());
    clipboard.Close();
    clipboard.Close();  // a second Close is harmless
    EXPECT_FALSE(clipboard.IsOpen());
}

TEST(MemoryClipboard, RacingOpenersOnlyOneWins) {
    TMemoryClipboard clipboard;
    std::atomic<int> winners = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            if (clipboard.Open()) ++winners;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(winners, 1);
}

TEST(MemoryClipboard, KeepsACopyOfTheLastBlockWrittenAcrossOpenings) {
    TMemoryClipboard clipboard;
    ASSERT_TRUE(clipboard.Open());
    EXPECT_FALSE(clipboard.HasWaveData());
    EXPECT_TRUE(clipboard.ReadWave().empty());
    Bytes block = {1, 2, 3};
    EXPECT_TRUE(clipboard.WriteWave(block));
    block[0] = 9;  // the clipboard kept its own copy
    clipboard.Close();

    ASSERT_TRUE(clipboard.Open());
    EXPECT_TRUE(clipboard.HasWaveData());
    Bytes read = clipboard.ReadWave();
    EXPECT_EQ(read, (Bytes{1, 2, 3}));
    read[1] = 9;  // and hands out copies
    EXPECT_EQ(clipboard.ReadWave(), (Bytes{1, 2, 3}));
    EXPECT_TRUE(clipboard.WriteWave({4, 5}));
    EXPECT_EQ(clipboard.ReadWave(), (Bytes{4, 5}));
    clipboard.Close();
}

TEST(MemoryClipboard, NothingWorksWhileClosed) {
    TMemoryClipboard clipboard;
    ASSERT_TRUE(clipboard.Open());
    ASSERT_TRUE(clipboard.WriteWave({1, 2}));
    clipboard.Close();
    EXPECT_FALSE(clipboard.HasWaveData());
    EXPECT_TRUE(clipboard.ReadWave().empty());
    EXPECT_FALSE(clipboard.WriteWave({3}));
    ASSERT_TRUE(clipboard.Open());
    EXPECT_EQ(clipboard.ReadWave(), (Bytes{1, 2}));  // the closed write changed nothing
    clipboard.Close();
}

TEST(MemoryClipboard, UnavailableClipboardCannotBeOpened) {
    TMemoryClipboard clipboard;
    clipboard.SetUnavailable(true);
    EXPECT_FALSE(clipboard.Open());
    EXPECT_FALSE(clipboard.IsOpen());
    clipboard.SetUnavailable(false);
    EXPECT_TRUE(clipboard.Open());
    clipboard.Close();
}

TEST(MemoryClipboard, RefusedWriteLeavesTheClipboardEmpty) {
    TMemoryClipboard clipboard;
    ASSERT_TRUE(clipboard.Open());
    ASSERT_TRUE(clipboard.WriteWave({1, 2}));
    clipboard.RefuseWrites(true);
    EXPECT_FALSE(clipboard.WriteWave({3, 4}));
    EXPECT_FALSE(clipboard.HasWaveData());
    EXPECT_TRUE(clipboard.ReadWave().empty());
    clipboard.RefuseWrites(false);
    EXPECT_TRUE(clipboard.WriteWave({5}));
    EXPECT_EQ(clipboard.ReadWave(), (Bytes{5}));
    clipboard.Close();
}

}  // namespace
}  // namespace kestrune

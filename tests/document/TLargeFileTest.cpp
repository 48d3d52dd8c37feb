#include "document/TLargeFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <numeric>

#include "platform/Config.h"
#include "platform/FileMapping.h"
#include "platform/OsError.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;

constexpr std::uint32_t G = kAllocationGranularity;

// A sparse file of `bytes` whose samples read as zero except where the test writes.
std::string SparseFile(const TestDir& dir, const std::string& name, std::uint64_t bytes) {
    const std::string path = dir.file(name);
    FileHandle f(path, FileHandle::Mode::CreateReadWrite);
    EXPECT_EQ(::ftruncate(f.fd(), static_cast<off_t>(bytes)), 0);
    return path;
}

// The sample value a pattern file holds at index i.
std::int16_t Pattern(std::uint32_t i) {
    return static_cast<std::int16_t>(i * 7919u);
}

std::string PatternFile(const TestDir& dir, const std::string& name, std::uint32_t samples) {
    std::vector<std::int16_t> s(samples);
    for (std::uint32_t i = 0; i < samples; ++i) s[i] = Pattern(i);
    const std::string path = dir.file(name);
    test::WriteWav(path, 2, s);
    return path;
}

TEST(TLargeFile, HeaderOnlyFileOpensWithAHeaderSizedWindow) {
    TestDir dir;
    const std::string path = dir.file("empty.wav");
    test::WriteWav(path, 2, {});
    TLargeFile store(path, false);
    EXPECT_EQ(store.fileSize(), 44u);
    EXPECT_EQ(store.sampleCount(), 0u);
    EXPECT_EQ(store.windowEndOffset(), 43u);
    std::uint8_t h[44];
    store.readheader(h);
    EXPECT_EQ(std::vector<std::uint8_t>(h, h + 44), test::WavHeader(2, 0));
    EXPECT_THROW(store.getwave(0), std::out_of_range);
}

TEST(TLargeFile, MissingFileIsCreatedEmptyAndFailsToMap) {
    TestDir dir;
    EXPECT_THROW(TLargeFile(dir.file("missing.wav"), false), EOSError);
    EXPECT_TRUE(test::FileExists(dir.file("missing.wav")));
}

TEST(TLargeFile, ReadingTheLastSampleMapsAWindowEndingAtTheLastByte) {
    TestDir dir;
    const std::uint64_t bytes = TLargeFile::MaxWindow + 44 + 2 * 1000;
    TLargeFile store(SparseFile(dir, "big.wav", bytes), false);
    EXPECT_EQ(store.windowEndOffset(), TLargeFile::MaxWindow - 1);
    store.getwave(store.sampleCount() - 1);
    EXPECT_EQ(store.windowEndOffset(), bytes - 1);
    EXPECT_EQ(store.windowStartOffset() % G, 0u);
    EXPECT_THROW(store.getwave(store.sampleCount()), std::out_of_range);
}

TEST(TLargeFile, StepBackAcrossAGranuleMovesTheWindowBackOneGranule) {
    TestDir dir;
    TLargeFile store(SparseFile(dir, "big.wav", 3ull * TLargeFile::MaxWindow), false);
    const std::uint32_t boundary = 640 * G;  // 40 MiB: a granule boundary beyond the first window
    const std::uint32_t i = (boundary - 44) / 2;
    store.getwave(i);
    EXPECT_EQ(store.windowStartOffset(), boundary);
    store.getwave(i - 1);
    EXPECT_EQ(store.windowStartOffset(), boundary - G);
    EXPECT_EQ(store.windowEndOffset(), boundary - G + TLargeFile::MaxWindow - 1);
}

TEST(TLargeFile, BlockCallsCoverTheirInclusiveRangeAndNothingWhenEmpty) {
    TestDir dir;
    TLargeFile store(PatternFile(dir, "p.wav", 100), false);
    std::vector<std::int16_t> buf(8, 99);
    store.getblock(buf.data(), 10, 13);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(buf[k], Pattern(10 + k));
    EXPECT_EQ(buf[4], 99);
    store.getblock(buf.data(), 13, 10);
    EXPECT_EQ(buf[0], Pattern(10));

    const std::string out = dir.file("out.wav");
    TLargeFile target(out, true, 44 + 2 * 100);
    target.copyfrom(store, 0, 0, 0);
    target.copyfrom(store, 0, -5, 0);
    const std::int16_t one = 5;
    target.putblock(&one, 3, 2);
    EXPECT_EQ(target.getwave(0), 0);
    EXPECT_EQ(target.getwave(2), 0);
    EXPECT_EQ(target.getwave(3), 0);
}

// Bulk copies across window boundaries give exactly what single-sample access gives.
TEST(TLargeFile, BulkCopiesAcrossWindowsMatchSingleSampleAccess) {
    TestDir dir;
    const std::uint32_t n = TLargeFile::MaxWindow / 2 + 3 * G;  // crosses one window boundary
    TLargeFile source(PatternFile(dir, "src.wav", n), false);
    const std::uint32_t shift = 12345;  // misaligns the two stores' windows
    TLargeFile target(dir.file("dst.wav"), true, 44 + 2 * (n + shift));
    target.copyfrom(source, 7, static_cast<std::int32_t>(n - 7), shift);

    std::vector<std::int16_t> back(n - 7);
    target.getblock(back.data(), shift, shift + n - 8);
    for (std::uint32_t k = 0; k < n - 7; ++k) ASSERT_EQ(back[k], Pattern(7 + k)) << "sample " << k;
    for (std::uint32_t k : {0u, shift - 1}) EXPECT_EQ(target.getwave(k), 0);

    std::vector<std::int16_t> block(3 * G);
    std::iota(block.begin(), block.end(), std::int16_t{-100});
    const std::uint32_t first = TLargeFile::MaxWindow / 2 - G;  // straddles a window end
    target.putblock(block.data(), first, first + 3 * G - 1);
    for (std::uint32_t k = 0; k < 3 * G; k += 997) EXPECT_EQ(target.getwave(first + k), block[k]);
}

TEST(TLargeFile, HeaderRoundTripsThroughAWritableStore) {
    TestDir dir;
    const std::string path = dir.file("h.wav");
    const auto h = test::WavHeader(1, 4);
    {
        TLargeFile w(path, true, 48);
        w.setwave(1, -2);
        w.writeheader(h.data());
        w.setwave(0, 7);
    }
    TLargeFile r(path, false);
    std::uint8_t back[44];
    r.readheader(back);
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 44), h);
    EXPECT_EQ(r.getwave(0), 7);
    EXPECT_EQ(r.getwave(1), -2);
}

TEST(TLargeFile, WritableStoreReservesItsBlocks) {
    TestDir dir;
    const std::uint32_t size = 44 + 4 * G;
    TLargeFile w(dir.file("r.wav"), true, size);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("r.wav").c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), size);
    EXPECT_GE(static_cast<std::uint64_t>(st.st_blocks) * 512, size);
}

TEST(TLargeFile, WritableStoreOf2GiBFailsWithFileTooLarge) {
    TestDir dir;
    try {
        TLargeFile w(dir.file("huge.wav"), true, 0x80000000u);
        FAIL();
    } catch (const EOSError& e) {
        EXPECT_EQ(e.code(), EFBIG);
    }
}

TEST(TLargeFile, TooLittleSpaceFailsBeforeTouchingAnyFile) {
    TestDir dir;
    test::SmallVolume volume(256 * 1024);
    if (!volume.mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    config.tempfolder = volume.path();
    const std::string name = TLargeFile::NewTempFileName();
    ASSERT_EQ(name.rfind(volume.path(), 0), 0u);
    try {
        TLargeFile w(name, true, 1024 * 1024);
        FAIL();
    } catch (const EOutOfDiskSpace& e) {
        EXPECT_STREQ(e.what(),
                     "There is not enough memory or disk space to complete the operation.");
    }
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);  // the empty name file stays for its owner
    EXPECT_EQ(st.st_size, 0);
}

TEST(TLargeFile, NewTempFileNameFallsBackToTheSystemFolder) {
    TestDir dir;
    config.tempfolder = dir.file("missing/");
    const std::string name = TLargeFile::NewTempFileName();
    EXPECT_EQ(name.back(), '/');
    EXPECT_THROW(TLargeFile(name, true, 100), EOSError);
}

}  // namespace
}  // namespace kestrune

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/FileMapping.h"
#include "platform/OsError.h"
#include "platform/TempFile.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

// "~" + one to four upper-case hex digits + ".tmp".
bool IsTempName(const std::string& name) {
    if (name.size() < 6 || name.size() > 9 || name[0] != '~') return false;
    if (name.compare(name.size() - 4, 4, ".tmp") != 0) return false;
    for (std::size_t i = 1; i + 4 < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])) && (name[i] < 'A' || name[i] > 'F'))
            return false;
    return true;
}

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = SystemTempFolder() + "kestrune-platform-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
};

TEST_F(Files, UniqueTempFilesAreNewEmptyPrivateAndNamedTildeHexTmp) {
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        auto path = CreateUniqueTempFile(dir);
        ASSERT_TRUE(path);
        const std::string name = fs::path(*path).filename();
        EXPECT_TRUE(IsTempName(name)) << name;
        struct stat st {};
        ASSERT_EQ(::stat(path->c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0777, 0600);
        names.insert(*path);
    }
    EXPECT_EQ(names.size(), 50u);
}

TEST_F(Files, UniqueTempFileNeedsAnExistingFolder) {
    EXPECT_FALSE(CreateUniqueTempFile(dir + "missing/"));
    EXPECT_FALSE(FreeDiskSpace(dir + "missing/"));
    EXPECT_GT(FreeDiskSpace(dir).value_or(0), 0u);
}

TEST_F(Files, MappedViewReadsAndWritesTheFile) {
    const std::string path = dir + "f.bin";
    {
        FileHandle f(path, FileHandle::Mode::CreateReadWrite);
        f.setLengthReserved(2 * kAllocationGranularity);
        EXPECT_EQ(f.size(), 2u * kAllocationGranularity);
        MappedView v(f, kAllocationGranularity, 16, true);
        std::memcpy(v.data(), "kestrune", 8);
    }
    FileHandle r(path, FileHandle::Mode::OpenOrCreateRead);
    MappedView v(r, kAllocationGranularity, 8, false);
    EXPECT_EQ(std::memcmp(v.data(), "kestrune", 8), 0);
}

TEST_F(Files, FailuresCarryErrnoAndMessage) {
    try {
        FileHandle f(dir + "no/such/file", FileHandle::Mode::CreateReadWrite);
        FAIL();
    } catch (const EOSError& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos);
    }
    // Mapping an empty file fails, as it does on every system.
    FileHandle empty(dir + "empty", FileHandle::Mode::OpenOrCreateRead);
    EXPECT_THROW(MappedView(empty, 0, 0, false), EOSError);
}

}  // namespace
}  // namespace kestrune

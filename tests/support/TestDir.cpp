#include "tests/support/TestDir.h"

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "platform/Config.h"
#include "platform/TempFile.h"

namespace kestrune::test {

namespace fs = std::filesystem;

namespace {
std::string MakeFolder(const char* stem) {
    std::string pattern = SystemTempFolder() + stem + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern + "/";
}
}  // namespace

TestDir::TestDir() : path_(MakeFolder("kestrune-test-")), previousTemp_(config.tempfolder) {
    config.tempfolder = path_;
}

TestDir::~TestDir() {
    config.tempfolder = previousTemp_;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<std::string> TestDir::list() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

SmallVolume::SmallVolume(unsigned long bytes) : path_(MakeFolder("kestrune-vol-")) {
    if (::geteuid() != 0) return;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallVolume::~SmallVolume() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace kestrune::test

#pragma once

#include <string>

#include <vector>
#include "document/IDocumentUI.h"

namespace kestrune::test {

// A fresh folder under the system temporary folder, removed with everything in it at the end of
// the test. It also becomes config.tempfolder for the test's duration.
class TestDir {
  public:
    TestDir();
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::string& path() const { return path_; }  // with a trailing '/'
    std::string file(const std::string& name) const { return path_ + name; }
    // Names of the files in the folder, sorted.
    std::vector<std::string> list() const;

  private:
    std::string path_;
    std::string previousTemp_;
};

// A window that records what the document shows.
struct RecordingWindow : IDocumentUI {
    std::vector<std::string> errors;
    std::vector<std::pair<std::string, std::string>> warnings;  // (text, caption)
    int captureCancels = 0;
    void ShowError(const std::string& m) override { errors.push_back(m); }
    void ShowWarning(const std::string& t, const std::string& c) override {
        warnings.emplace_back(t, c);
    }
    void CancelCapture() override { ++captureCancels; }
};

// A small tmpfs of `bytes` mounted at a new folder for the test (root only). mounted() is false
// where it cannot be made; the test then skips.
class SmallVolume {
  public:
    explicit SmallVolume(unsigned long bytes);
    ~SmallVolume();
    bool mounted() const { return mounted_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    bool mounted_ = false;
};

}  // namespace kestrune::test

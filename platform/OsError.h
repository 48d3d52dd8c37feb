#pragma once

#include <stdexcept>
#include <string>

namespace kestrune {

// A failing system call: carries the system's error code and its message text.
class EOSError : public std::runtime_error {
  public:
    EOSError(int code, const std::string& context);
    int code() const noexcept { return code_; }

  private:
    int code_;
};

// Raises EOSError for `code` (an errno value). `context` names what failed, e.g. the file.
[[noreturn]] void RaiseOSError(int code, const std::string& context);
// Raises EOSError for the current errno.
[[noreturn]] void RaiseLastOSError(const std::string& context);

}  // namespace kestrune

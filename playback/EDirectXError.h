#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrune {

// A failed call of the sound output: the message text and the call's signed 32-bit result code.
class EDirectXError : public std::runtime_error {
  public:
    EDirectXError(const std::string& message, std::int32_t code)
        : std::runtime_error(message), code_(code) {}
    std::int32_t ErrorCode() const noexcept { return code_; }

  private:
    std::int32_t code_;
};

}  // namespace kestrune

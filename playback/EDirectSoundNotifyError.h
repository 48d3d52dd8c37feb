#pragma once

#include <stdexcept>
#include <string>

namespace kestrune {

// Raised while setting up position notifications (too many positions, an event that cannot be
// made). Message only.
class EDirectSoundNotifyError : public std::runtime_error {
  public:
    explicit EDirectSoundNotifyError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kestrune

#pragma once

#include "playback/EDirectXError.h"

namespace kestrune {

// Raised by CheckResult for every failed call of the DirectSound-style layer.
class EDirectSoundError : public EDirectXError {
  public:
    using EDirectXError::EDirectXError;
};

}  // namespace kestrune

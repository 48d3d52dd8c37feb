#pragma once

#include "playback/DirectSoundTypes.h"

namespace kestrune {

// Returns when `code` is 0; any other code (a failure, or a non-zero success code) raises
// EDirectSoundError with ErrorCode = code and the message
//   "DirectSound call failed: " + the code in upper-case hexadecimal + "\r" + its description,
// for example "DirectSound call failed: 88780064\rThe specified WAVE format is not supported".
void CheckResult(TDSResult code);

}  // namespace kestrune

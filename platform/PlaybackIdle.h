#pragma once

#include "platform/Event.h"

namespace kestrune {

// Signalled while no playback streams from the document; manual-reset, created signalled. The
// player resets it when playback starts and sets it when playback stops; every document operation
// waits for it before it touches the samples.
extern Event PlaybackIdle;

}  // namespace kestrune

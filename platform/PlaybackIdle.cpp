#include "platform/PlaybackIdle.h"

namespace kestrune {

Event PlaybackIdle(Event::Reset::Manual, true);

}  // namespace kestrune

#include "platform/Config.h"

#include "platform/TempFile.h"

namespace kestrune {

TConfig config = [] {
    TConfig c;
    c.tempfolder = SystemTempFolder();
    return c;
}();

}  // namespace kestrune

#include "platform/OsError.h"

#include <cerrno>
#include <cstring>

namespace kestrune {

namespace {
std::string Describe(int code, const std::string& context) {
    std::string text = "System Error.  Code: " + std::to_string(code) + ".\n" + std::strerror(code);
    if (!context.empty()) text += " (" + context + ")";
    return text;
}
}  // namespace

EOSError::EOSError(int code, const std::string& context)
    : std::runtime_error(Describe(code, context)), code_(code) {}

void RaiseOSError(int code, const std::string& context) {
    throw EOSError(code, context);
}

void RaiseLastOSError(const std::string& context) {
    RaiseOSError(errno, context);
}

}  // namespace kestrune

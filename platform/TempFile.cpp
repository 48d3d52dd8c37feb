#include "platform/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace kestrune {

std::string SystemTempFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string folder = (env != nullptr && *env != '\0') ? env : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::optional<std::string> CreateUniqueTempFile(const std::string& folder) {
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    // Start from a number derived from the clock and the process, as the system's own temporary
    // names do, so that two processes rarely walk the same sequence.
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    unsigned start = static_cast<unsigned>((now ^ (::getpid() * 2654435761u)) & 0xFFFF);
    for (unsigned k = 0; k < 0xFFFF; ++k) {
        unsigned number = (start + k) % 0xFFFF + 1;  // 1 … 0xFFFF
        char name[16];
        std::snprintf(name, sizeof name, "~%X.tmp", number);
        std::string path = base + name;
        int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace kestrune

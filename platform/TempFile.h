#pragma once

#include <optional>
#include <string>

namespace kestrune {

// The system temporary folder with a trailing separator: $TMPDIR, else /tmp/.
std::string SystemTempFolder();

// Creates a new, unique, empty file named "~" + one to four upper-case hex digits + ".tmp" in
// `folder` (O_CREAT|O_EXCL, mode 0600), trying the next number on a clash. Returns its full path,
// or nothing when no name can be made (the folder is missing or not writable, or all 65535 names
// are taken).
std::optional<std::string> CreateUniqueTempFile(const std::string& folder);

}  // namespace kestrune

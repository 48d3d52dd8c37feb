#pragma once

#include <string>

namespace kestrune {

// "libavcodec A.B.C, libavformat …": the FFmpeg libraries Kestrune runs on.
std::string CodecLibraryVersions();

// Keeps FFmpeg's own diagnostics (probe scores, damaged frames) off stderr; Kestrune reports
// what it could not read in its own words. A front end calls it once at start.
void QuietCodecLibraryLog();

}  // namespace kestrune

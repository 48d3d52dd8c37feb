#pragma once

#include <string>

namespace kestrune {

// "libavcodec A.B.C, libavformat …": the FFmpeg libraries Kestrune runs on.
std::string CodecLibraryVersions();

}  // namespace kestrune

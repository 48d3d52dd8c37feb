#pragma once

#include <memory>
#include <string>

#include "codec/TSampleWriter.h"

namespace kestrune {

// True when the extension of `path`'s file name, compared without regard to case, names a format
// that CreateSampleWriter writes: ".m4r", ".wav" or ".mp3".
bool IsExportExtension(const std::string& path);

// The writer for `path`'s extension (compared without regard to case): ".m4r" → AACwriter,
// ".wav" → WavWriter, ".mp3" → Mp3Writer; nullptr for any other. `channels` is 1 or 2.
// Construction errors of the writer propagate.
std::unique_ptr<TSampleWriter> CreateSampleWriter(const std::string& path, int channels);

}  // namespace kestrune

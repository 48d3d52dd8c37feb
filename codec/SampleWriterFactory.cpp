#include "codec/SampleWriterFactory.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "codec/AACwriter.h"
#include "codec/Mp3Writer.h"
#include "codec/WavWriter.h"

namespace kestrune {

namespace {

enum class Format { None, M4r, Wav, Mp3 };

Format FormatOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".m4r") return Format::M4r;
    if (ext == ".wav") return Format::Wav;
    if (ext == ".mp3") return Format::Mp3;
    return Format::None;
}

}  // namespace

bool IsExportExtension(const std::string& path) {
    return FormatOf(path) != Format::None;
}

std::unique_ptr<TSampleWriter> CreateSampleWriter(const std::string& path, int channels) {
    switch (FormatOf(path)) {
        case Format::M4r:
            return std::make_unique<AACwriter>(path, channels);
        case Format::Wav:
            return std::make_unique<WavWriter>(path, channels);
        case Format::Mp3:
            return std::make_unique<Mp3Writer>(path, channels);
        case Format::None:
            break;
    }
    return nullptr;
}

}  // namespace kestrune

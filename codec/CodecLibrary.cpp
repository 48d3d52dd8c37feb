#include "codec/CodecLibrary.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

namespace kestrune {

namespace {
std::string Triple(const char* name, unsigned v) {
    return std::string(name) + " " + std::to_string(v >> 16) + "." +
           std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}
}  // namespace

std::string CodecLibraryVersions() {
    return Triple("libavcodec", avcodec_version()) + ", " +
           Triple("libavformat", avformat_version()) + ", " +
           Triple("libswresample", swresample_version());
}

void QuietCodecLibraryLog() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace kestrune

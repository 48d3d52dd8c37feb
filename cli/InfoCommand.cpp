#include <cstdio>

#include "cli/CliSession.h"
#include "cli/Commands.h"

namespace kestrune::cli {

int RunInfo(const std::vector<std::string>& args) {
    if (args.size() != 1) return UsageError("info FILE");
    CliSession session;
    if (!session.Load(args[0])) return CliSession::Interrupted() ? 130 : 1;
    const Twavefile& doc = session.doc;
    std::printf("channels: %u\n", doc.Channels());
    std::printf("samplerate: %u\n", doc.SampleRate());
    std::printf("frames: %u\n", doc.Frames());
    std::printf("duration: %.3f\n", doc.Duration());
    std::printf("peak: %d\n", doc.Peak());
    std::printf("title: %s\n", doc.Title().c_str());
    std::printf("artist: %s\n", doc.Artist().c_str());
    return 0;
}

}  // namespace kestrune::cli

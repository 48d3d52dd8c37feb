// kestrune-cli: the headless front end over Kestrune's engine.

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Version.h"
#include "cli/Commands.h"
#include "codec/CodecLibrary.h"

namespace kestrune::cli {

int UsageError(const char* synopsis) {
    std::fprintf(stderr, "usage: kestrune-cli %s\n", synopsis);
    return 2;
}

}  // namespace kestrune::cli

int main(int argc, char** argv) {
    using namespace kestrune::cli;
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
    const std::string command = argc > 1 ? argv[1] : "";
    kestrune::QuietCodecLibraryLog();
    try {
        // A failure the commands do not expect still unwinds their sessions, which delete the
        // working files.
        if (command == "info") return RunInfo(args);
        if (command == "create") return RunCreate(args);
        if (command == "play") return RunPlay(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (command == "--version" && args.empty()) {
        std::printf("%s %s (%s)\n", KESTRUNE_PRODUCT_NAME, KESTRUNE_FILE_VERSION,
                    kestrune::CodecLibraryVersions().c_str());
        return 0;
    }
    std::fprintf(
        stderr,
        "usage: kestrune-cli info FILE\n"
        "       kestrune-cli create INPUT OUTPUT [--start TIME] [--end TIME] [--force] [EFFECT…]\n"
        "       kestrune-cli play FILE [--start TIME] [--end TIME]\n"
        "       kestrune-cli --version\n");
    return 2;
}

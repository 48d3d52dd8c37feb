#include <cstdio>
#include <cstring>

#include "Version.h"
#include "codec/CodecVersion.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s (%s)\n", KESTRUNE_PRODUCT_NAME, KESTRUNE_FILE_VERSION,
                    kestrune::CodecLibraryVersions().c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: kestrune-cli --version\n");
    return 2;
}

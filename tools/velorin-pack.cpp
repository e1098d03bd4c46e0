#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PackTree.h"

/* velorin-pack SOURCE_DIR ARCHIVE [-level 0-9]
   Exit codes: 0 packed, 1 the tree could not be packed, 2 bad command line. */

namespace {

int PrintUsage()
{
    std::fprintf(stderr,
                 "Usage: velorin-pack SOURCE_DIR ARCHIVE [-level 0-9]\n"
                 "  Packs the tree below SOURCE_DIR into ARCHIVE for Velorin.\n"
                 "  -level: gzip level, 1 (fast) to 9 (small), default 6; 0 stores\n"
                 "          the archive uncompressed.\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 5)
        return PrintUsage();
    int level = 6;
    if (argc == 5) {
        const char *value = argv[4];
        if (std::strcmp(argv[3], "-level") != 0 || std::strlen(value) != 1 || value[0] < '0' ||
            value[0] > '9')
            return PrintUsage();
        level = value[0] - '0';
    }
    PackSummary summary;
    std::string error;
    auto warn = [](const std::string &text) {
        std::fprintf(stderr, "velorin-pack: warning: %s\n", text.c_str());
    };
    if (!PackTree(argv[1], argv[2], level, warn, summary, error)) {
        std::fprintf(stderr, "velorin-pack: %s\n", error.c_str());
        return 1;
    }
    std::printf("Packed %llu directories and %llu files (%llu bytes) into %s\n",
                static_cast<unsigned long long>(summary.directories),
                static_cast<unsigned long long>(summary.files),
                static_cast<unsigned long long>(summary.bytes), argv[2]);
    return 0;
}

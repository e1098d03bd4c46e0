#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ArchiveReport.h"
#include "MakeInstaller.h"
#include "PackTree.h"
#include "ProgressLine.h"
#include "ShownName.h"
#include "StandardDescriptors.h"

/* velorin-pack SOURCE_DIR ARCHIVE [-level 0-9]
   velorin-pack SOURCE_DIR OUTPUT -installer [-run COMMAND] [-stub PROGRAM] [-level 0-9]
   velorin-pack -list ARCHIVE
   velorin-pack -verify ARCHIVE
   Exit codes: 0 done (packed, listed, or the archive is sound), 1 the tree
   could not be packed or the archive has a fault, 2 bad command line. */

namespace {

int PrintUsage()
{
    std::fprintf(stderr,
                 "Usage: velorin-pack SOURCE_DIR ARCHIVE [-level 0-9]\n"
                 "       velorin-pack SOURCE_DIR OUTPUT -installer [-run COMMAND] [-stub PROGRAM]\n"
                 "       velorin-pack -list ARCHIVE\n"
                 "       velorin-pack -verify ARCHIVE\n"
                 "  Packs the tree below SOURCE_DIR into ARCHIVE for Velorin.\n"
                 "  -level: gzip level, 1 (fast) to 9 (small), default 6; 0 stores\n"
                 "          the data uncompressed, still checked by gzip's CRC-32.\n"
                 "  Files that their owner may execute are marked as programs, and\n"
                 "  Velorin makes them executable again when it unpacks them.\n"
                 "  -list: one line per entry (type, size, name; file+x for a\n"
                 "         program), then the totals.\n"
                 "  -verify: reads the whole archive as Velorin's first pass does and\n"
                 "           prints OK with the totals, or the first fault.\n"
                 "  -installer [-run COMMAND] [-stub PROGRAM]: makes ARCHIVE a one-file\n"
                 "           installer: the velorin program (PROGRAM, or the one beside\n"
                 "           velorin-pack), the archive, and COMMAND, which it runs through\n"
                 "           /bin/sh in the unpacked tree.\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (!OpenStandardDescriptors())
        return 1;
    if (argc == 3 && std::strcmp(argv[1], "-list") == 0)
        return ListArchive(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "-verify") == 0)
        return VerifyArchive(argv[2]);
    if (argc < 3)
        return PrintUsage();
    int level = 6;
    bool installer = false;
    InstallerPlan plan;
    for (int i = 3; i < argc; i++) {
        const char *option = argv[i];
        if (std::strcmp(option, "-installer") == 0) {
            installer = true;
            continue;
        }
        if (i + 1 >= argc)
            return PrintUsage();
        const char *value = argv[++i];
        if (std::strcmp(option, "-run") == 0 && *value != '\0') {
            plan.command = value;
        } else if (std::strcmp(option, "-stub") == 0) {
            plan.stub = value;
        } else if (std::strcmp(option, "-level") == 0 && std::strlen(value) == 1 &&
                   value[0] >= '0' && value[0] <= '9') {
            level = value[0] - '0';
        } else {
            return PrintUsage();
        }
    }
    if (!installer && (!plan.command.empty() || !plan.stub.empty()))
        return PrintUsage();
    PackSummary summary;
    std::string error;
    ProgressLine progressLine(2);
    PackReporting reporting;
    /* A warning takes the progress line's place; the next update draws it
       again below. */
    reporting.warn = [&](const std::string &text) {
        progressLine.Clear();
        std::fprintf(stderr, "velorin-pack: warning: %s\n", text.c_str());
    };
    if (progressLine.Shown())
        reporting.progress = [&](const PackProgress &progress) { progressLine.Update(progress); };
    plan.sourceDir = argv[1];
    plan.output = argv[2];
    plan.level = level;
    bool packed = installer ? MakeInstaller(plan, reporting, summary, error)
                            : PackTree(argv[1], argv[2], level, reporting, summary, error);
    progressLine.Clear();
    if (!packed) {
        std::fprintf(stderr, "velorin-pack: %s\n", error.c_str());
        return 1;
    }
    std::printf("Packed %llu directories and %llu files (%llu bytes) into %s\n",
                static_cast<unsigned long long>(summary.directories),
                static_cast<unsigned long long>(summary.files),
                static_cast<unsigned long long>(summary.bytes), argv[2]);
    return 0;
}

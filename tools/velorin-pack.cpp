#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ArchiveReader.h"
#include "PackTree.h"
#include "ProgressLine.h"
#include "ShownName.h"
#include "StandardDescriptors.h"

/* velorin-pack SOURCE_DIR ARCHIVE [-level 0-9]
   velorin-pack -list ARCHIVE
   velorin-pack -verify ARCHIVE
   Exit codes: 0 done (packed, listed, or the archive is sound), 1 the tree
   could not be packed or the archive has a fault, 2 bad command line. */

namespace {

int PrintUsage()
{
    std::fprintf(stderr,
                 "Usage: velorin-pack SOURCE_DIR ARCHIVE [-level 0-9]\n"
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
                 "           prints OK with the totals, or the first fault.\n");
    return 2;
}

std::string TypeOf(uint16_t type, uint16_t flags)
{
    if (type == ENTRY_FILE)
        return flags & ENTRY_FLAG_EXECUTABLE ? "file+x" : "file";
    if (type == ENTRY_DIRECTORY)
        return "dir";
    return "type " + std::to_string(type);
}

/* An archive with a fault: where it is and what Velorin would show. */
int ReportFault(const ArchiveReading &reading, const std::string &path)
{
    std::printf("FAULT at stream offset %" PRIu64 ": %s\n", reading.faultOffset,
                DescribeArchiveFault(reading, path).c_str());
    return 1;
}

void PrintTotals(const ArchiveReading &reading)
{
    std::printf("%" PRIu64 " entries (%" PRIu64 " directories, %" PRIu64 " files), %" PRIu64
                " bytes in files\n",
                reading.entries, reading.directories, reading.files, reading.bytes);
}

int ListArchive(const std::string &path)
{
    ArchiveVisitor visitor;
    visitor.entry = [](const ArchiveEntryInfo &entry) {
        /* The size of anything but a file is not part of the archive's content. */
        uint32_t size = entry.type == ENTRY_FILE ? entry.size : 0;
        std::printf("%-8s %10" PRIu32 "  %s\n", TypeOf(entry.type, entry.flags).c_str(), size,
                    ShowName(entry.name).c_str());
    };
    ArchiveReading reading = ReadArchiveFile(path, visitor);
    if (reading.fault != ArchiveFault::None)
        return ReportFault(reading, path);
    PrintTotals(reading);
    return 0;
}

int VerifyArchive(const std::string &path)
{
    ArchiveReading reading = ReadArchiveFile(path);
    if (reading.fault != ArchiveFault::None)
        return ReportFault(reading, path);
    std::printf("OK: ");
    PrintTotals(reading);
    return 0;
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
    bool packed = PackTree(argv[1], argv[2], level, reporting, summary, error);
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

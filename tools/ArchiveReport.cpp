#include "ArchiveReport.h"

#include <cinttypes>
#include <cstdio>

#include "ArchiveReader.h"
#include "ShownName.h"

namespace {

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

}  // namespace

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

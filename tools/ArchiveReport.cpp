#include "ArchiveReport.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ArchiveReader.h"
#include "ShownName.h"
#include "UnpackNeeds.h"

namespace
{

std::string TypeOf(uint16_t type, uint16_t flags)
{
    if (type == ENTRY_FILE)
        return flags & ENTRY_FLAG_EXECUTABLE ? "file+x" : "file";
    if (type == ENTRY_DIRECTORY)
        return "dir";
    return "type " + std::to_string(type);
}

/* A fault in the archive: where it is and what Velorin would show. */
void PrintFault(uint64_t offset, const std::string &text)
{
    std::printf("FAULT at stream offset %" PRIu64 ": %s\n", offset, text.c_str());
}

std::string Totals(const ArchiveReading &reading)
{
    return Count(reading.entries, "entry", "entries") + " (" +
           Count(reading.directories, "directory", "directories") + ", " +
           Count(reading.files, "file", "files") + "), " + Count(reading.bytes, "byte", "bytes") +
           " in files";
}

} // namespace

std::string Count(uint64_t number, const char *one, const char *many)
{
    return std::to_string(number) + " " + (number == 1 ? one : many);
}

int FinishOutput(const std::string &program, int code)
{
    int flushed = std::fflush(stdout);
    int reason = errno;
    if (flushed == 0 && !std::ferror(stdout))
        return code;
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program.c_str(),
                 flushed != 0 ? std::strerror(reason) : "an earlier write failed");
    return REPORT_FAILED;
}

int ListArchive(const std::string &program, const std::string &path)
{
    ArchiveVisitor visitor;
    visitor.entry = [](const ArchiveEntryInfo &entry) {
        /* The size of anything but a file is not part of the archive's content. */
        uint32_t size = entry.type == ENTRY_FILE ? entry.size : 0;
        std::printf("%-8s %10" PRIu32 "  %s\n", TypeOf(entry.type, entry.flags).c_str(), size,
                    ShowName(entry.name).c_str());
    };
    ArchiveReading reading = ReadArchiveFile(path, visitor);
    if (reading.fault != ArchiveFault::None) {
        PrintFault(reading.faultOffset, DescribeArchiveFault(reading, path));
        return FinishOutput(program, REPORT_FAILED);
    }
    std::printf("%s\n", Totals(reading).c_str());
    return FinishOutput(program, REPORT_DONE);
}

int VerifyArchive(const std::string &program, const std::string &path)
{
    UnpackNeeds needs;
    uint64_t conflictOffset = 0;
    std::string conflict;
    ArchiveVisitor visitor;
    visitor.entry = [&](const ArchiveEntryInfo &entry) {
        if (conflict.empty() && !needs.Add(entry, conflict))
            conflictOffset = entry.offset;
    };
    ArchiveReading reading = ReadArchiveFile(path, visitor);
    /* Both faults are told, in the order they lie in the archive. */
    if (!conflict.empty())
        PrintFault(conflictOffset, conflict);
    if (reading.fault != ArchiveFault::None)
        PrintFault(reading.faultOffset, DescribeArchiveFault(reading, path));
    if (!conflict.empty() || reading.fault != ArchiveFault::None)
        return FinishOutput(program, REPORT_FAILED);
    for (const std::string &directory : needs.Needed())
        std::printf("NEEDS %s: a directory that the archive does not create, so it must exist "
                    "in the destination\n",
                    ShowName(directory).c_str());
    if (needs.Needed().empty()) {
        std::printf("OK: %s\n", Totals(reading).c_str());
        return FinishOutput(program, REPORT_DONE);
    }
    std::printf("OK if the destination holds %s: %s\n",
                needs.Needed().size() == 1 ? "that directory" : "those directories",
                Totals(reading).c_str());
    return FinishOutput(program, REPORT_NEEDS_DIRECTORIES);
}

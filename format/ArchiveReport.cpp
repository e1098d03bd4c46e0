#include "ArchiveReport.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

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
    std::string links =
        reading.links != 0 ? ", " + Count(reading.links, "link", "links") : std::string();
    return Count(reading.entries, "entry", "entries") + " (" +
           Count(reading.directories, "directory", "directories") + ", " +
           Count(reading.files, "file", "files") + links + "), " +
           Count(reading.bytes, "byte", "bytes") + " in files";
}

/* As ls and tar show them: the type, then rwx for owner, group and others. */
std::string ModeText(char type, uint16_t mode)
{
    std::string text(1, type);
    for (int shift = 6; shift >= 0; shift -= 3) {
        text += (mode >> shift) & 4 ? 'r' : '-';
        text += (mode >> shift) & 2 ? 'w' : '-';
        text += (mode >> shift) & 1 ? 'x' : '-';
    }
    return text;
}

/* In UTC to the nanosecond, the same wherever it is listed. */
std::string TimeText(int64_t seconds, uint32_t nanoseconds)
{
    time_t time = time_t(seconds);
    struct tm parts;
    char text[64];
    if (gmtime_r(&time, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0)
        return std::to_string(seconds) + " s";
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%09" PRIu32, nanoseconds);
    return std::string(text) + fraction;
}

/* A line for an entry with attributes, or a link, as tar -tv shows it:
   mode, time, size, name, and where a link leads. A hard link shows the
   file it names. */
std::string WholeTreeLine(const ArchiveEntryInfo &entry, const ArchiveEntryInfo *named)
{
    const ArchiveEntryInfo &shown = named != nullptr ? *named : entry;
    char type = entry.type == ENTRY_DIRECTORY       ? 'd'
                : entry.type == ENTRY_SYMBOLIC_LINK ? 'l'
                : entry.type == ENTRY_HARD_LINK     ? 'h'
                                                    : '-';
    std::string mode = shown.attributeFields & ATTRIBUTE_MODE ? ModeText(type, shown.mode)
                       : type == 'l'                          ? ModeText(type, 0777)
                                                              : std::string(1, type) + "?????????";
    std::string time = shown.attributeFields & ATTRIBUTE_TIME
                           ? TimeText(shown.seconds, shown.nanoseconds)
                           : std::string(29, '-');
    uint64_t size = shown.type == ENTRY_FILE ? shown.size : 0;
    char sizeText[32];
    std::snprintf(sizeText, sizeof sizeText, "%12" PRIu64, size);
    std::string line = mode + "  " + time + " " + sizeText + "  " + ShowName(entry.name);
    if (entry.type == ENTRY_SYMBOLIC_LINK)
        line += " -> " + ShowName(entry.target);
    if (entry.type == ENTRY_HARD_LINK)
        line += " link to " + ShowName(entry.target);
    return line;
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
    /* The files that hard links name, for what those show. */
    std::map<std::string, ArchiveEntryInfo> linked;
    visitor.entry = [&](const ArchiveEntryInfo &entry) {
        if (entry.type == ENTRY_FILE && (entry.flags & ENTRY_FLAG_LINKED))
            linked[entry.name] = entry;
        if (entry.attributeFields != 0 || entry.link) {
            auto named = entry.type == ENTRY_HARD_LINK ? linked.find(entry.target) : linked.end();
            std::printf(
                "%s\n",
                WholeTreeLine(entry, named != linked.end() ? &named->second : nullptr).c_str());
            return;
        }
        /* The size of anything but a file is not part of the archive's content. */
        uint64_t size = entry.type == ENTRY_FILE ? entry.size : 0;
        std::printf("%-8s %10" PRIu64 "  %s\n", TypeOf(entry.type, entry.flags).c_str(), size,
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

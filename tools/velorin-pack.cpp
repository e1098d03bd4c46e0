#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "ArchiveReader.h"
#include "PackCommandLine.h"
#include "PackTree.h"
#include "ProgressLine.h"
#include "ShownName.h"
#include "StandardDescriptors.h"
#include "UnpackNeeds.h"

/* Exit codes: 0 done (packed, listed, or the archive unpacks into an empty
   destination), 1 the tree could not be packed, the archive has a fault or
   cannot be unpacked, or the output was lost, 2 a wrong command line, 3 the
   archive is sound but needs directories in the destination (-verify). */

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NEEDS_DIRECTORIES = 3;

std::string Count(uint64_t number, const char *one, const char *many)
{
    return std::to_string(number) + " " + (number == 1 ? one : many);
}

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
           Count(reading.files, "file", "files") + "), " +
           Count(reading.bytes, "byte", "bytes") + " in files";
}

/* What -list and -verify print is their result: a script must learn when
   it did not arrive. */
int FinishOutput(int code)
{
    int flushed = std::fflush(stdout);
    int reason = errno;
    if (flushed == 0 && !std::ferror(stdout))
        return code;
    std::fprintf(stderr, "velorin-pack: cannot write to standard output: %s\n",
                 flushed != 0 ? std::strerror(reason) : "an earlier write failed");
    return EXIT_FAILED;
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
    if (reading.fault != ArchiveFault::None) {
        PrintFault(reading.faultOffset, DescribeArchiveFault(reading, path));
        return FinishOutput(EXIT_FAILED);
    }
    std::printf("%s\n", Totals(reading).c_str());
    return FinishOutput(EXIT_DONE);
}

int VerifyArchive(const std::string &path)
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
        return FinishOutput(EXIT_FAILED);
    for (const std::string &directory : needs.Needed())
        std::printf("NEEDS %s: a directory that the archive does not create, so it must exist "
                    "in the destination\n",
                    ShowName(directory).c_str());
    if (needs.Needed().empty()) {
        std::printf("OK: %s\n", Totals(reading).c_str());
        return FinishOutput(EXIT_DONE);
    }
    std::printf("OK if the destination holds %s: %s\n",
                needs.Needed().size() == 1 ? "that directory" : "those directories",
                Totals(reading).c_str());
    return FinishOutput(EXIT_NEEDS_DIRECTORIES);
}

int PackSource(const std::string &sourceDir, const std::string &archivePath,
               const PackSettings &settings)
{
    /* A file size limit ends a program with SIGXFSZ; the write fails
       instead, and the partial archive is removed as after a full disk. */
    std::signal(SIGXFSZ, SIG_IGN);
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
    bool packed = PackTree(sourceDir, archivePath, settings, reporting, summary, error);
    progressLine.Clear();
    if (!packed) {
        std::fprintf(stderr, "velorin-pack: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    std::printf("Packed %s and %s (%s) into %s\n",
                Count(summary.directories, "directory", "directories").c_str(),
                Count(summary.files, "file", "files").c_str(),
                Count(summary.bytes, "byte", "bytes").c_str(), ShowName(archivePath).c_str());
    return EXIT_DONE;
}

}  // namespace

int main(int argc, char **argv)
{
    if (!OpenStandardDescriptors())
        return EXIT_FAILED;
    PackCommand command;
    std::string error;
    if (!ReadPackCommandLine(argc, argv, command, error)) {
        std::fprintf(stderr, "velorin-pack: %s\n", ShowName(error).c_str());
        PrintPackUsage(stderr);
        return EXIT_USAGE;
    }
    if (command.help) {
        PrintPackUsage(stdout);
        return FinishOutput(EXIT_DONE);
    }
    if (command.version) {
        std::printf("velorin-pack %s\n", VELORIN_VERSION);
        return FinishOutput(EXIT_DONE);
    }
    if (command.list)
        return ListArchive(command.operands[0]);
    if (command.verify)
        return VerifyArchive(command.operands[0]);
    return PackSource(command.operands[0], command.operands[1], command.settings);
}

// Runs arbitrary bytes as an archive stream, stored plain and gzip-compressed,
// through both passes of the real extraction into a fresh destination, and
// checks on every input: nothing is created outside the destination; nothing
// at all when the sizing pass refuses the archive; and otherwise exactly the
// tree that an independent reading of the stream says the writing pass makes.
// An archive with whole trees (links, modes, times, large files) is checked
// for safety alone: nothing outside the destination, nothing after a refusal,
// and every symbolic link made leads to a place inside the destination.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../archive/archive.h"
#include "../driver/driver.h"
#include "../platform/host/HostControls.h"
#include "../progress/progress.h"
#include "../tests/support/ArchiveOracle.h"
#include "../tests/support/Files.h"
#include "../tests/support/TempDir.h"
#include "../tools/ArchiveWriter.h"

namespace
{

/* An early end of the run, which the driver turns into an exit. */
struct EarlyEnd {
};

/* What the writing pass must make of an archive the sizing pass accepts:
   each directory entry makes its directory unless something of that name is
   there already; each file entry writes its file; the first entry that
   cannot be created (its parent missing or not a directory, a file entry
   where a directory stands) stops the pass with an error. */
struct ExpectedRun {
    int result = ARCHIVE_ENDED;
    TreeSnapshot tree;
};

bool IsDirectory(const TreeSnapshot &tree, const std::string &path)
{
    auto found = tree.find(path);
    return found != tree.end() && found->second == "dir";
}

ExpectedRun PredictWritingPass(const OracleReading &reading)
{
    ExpectedRun expected;
    if (reading.fault != OracleFault::None) {
        expected.result = RUN_FAILED;
        return expected;
    }
    for (const OracleEntry &entry : reading.entries) {
        if (entry.type != ENTRY_FILE && entry.type != ENTRY_DIRECTORY)
            continue;
        size_t slash = entry.name.rfind('/');
        bool parentThere =
            slash == std::string::npos || IsDirectory(expected.tree, entry.name.substr(0, slash));
        if (entry.type == ENTRY_DIRECTORY && expected.tree.count(entry.name) != 0)
            continue;
        if (!parentThere || (entry.type == ENTRY_FILE && IsDirectory(expected.tree, entry.name))) {
            expected.result = RUN_FAILED;
            return expected;
        }
        expected.tree[entry.name] = entry.type == ENTRY_DIRECTORY ? "dir" : "file:" + entry.data;
    }
    return expected;
}

/* Whether the stream uses what only a reader of whole trees knows: the
   Part-only reading cannot predict its tree. */
bool HoldsWholeTree(const std::string &stream, const OracleReading &reading)
{
    const ArchiveHeader *header = reinterpret_cast<const ArchiveHeader *>(stream.data());
    if (stream.size() < sizeof *header || !HasEntryFlags(header))
        return false;
    if (ReadBigEndian16(header->version) == ARCHIVE_VERSION_LARGE_FILES)
        return true;
    for (const OracleEntry &entry : reading.entries) {
        if (entry.type == ENTRY_ATTRIBUTES || entry.type == ENTRY_SYMBOLIC_LINK ||
            entry.type == ENTRY_HARD_LINK)
            return true;
    }
    return false;
}

/* Gives the owner every permission on the directories below path, and
   reading and writing on the files, so that whatever modes an archive set,
   the tree can be read and removed. */
void OpenUpTree(const std::string &path)
{
    chmod(path.c_str(), 0700);
    DIR *directory = opendir(path.c_str());
    if (directory == nullptr)
        return;
    while (dirent *item = readdir(directory)) {
        std::string name = item->d_name, inside = path + "/" + name;
        struct stat info;
        if (name == "." || name == ".." || lstat(inside.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            OpenUpTree(inside);
        else if (S_ISREG(info.st_mode))
            chmod(inside.c_str(), (info.st_mode & 0777) | 0600);
    }
    closedir(directory);
}

/* Whether a link at name (below the destination) holding target leads,
   read as the kernel reads it from the link's directory, to a place
   inside the destination, never above it. */
bool StaysInside(const std::string &name, const std::string &target)
{
    if (target.empty() || target[0] == '/')
        return false;
    long depth = long(std::count(name.begin(), name.end(), '/'));
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        std::string component = target.substr(start, end == std::string::npos ? end : end - start);
        if (component == "..")
            depth--;
        else if (!component.empty() && component != ".")
            depth++;
        if (depth < 0)
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return true;
}

[[noreturn]] void Fail(const char *what, const std::string &archivePath)
{
    std::fprintf(stderr, "FINDING: %s (archive %s)\n", what, archivePath.c_str());
    std::abort();
}

/* One run of the extraction, as the driver makes it, on the archive file. */
void CheckArchiveFile(const std::string &stream, int level)
{
    TempDir base;
    /* The destination lies a few levels down, so that an entry escaping
       upwards would land inside base, where it is seen. */
    std::string work = base / "a/b/c";
    std::filesystem::create_directories(work + "/dest");
    std::string archivePath = work + "/archive", dest = work + "/dest";
    ArchiveWriter writer;
    if (!writer.Open(archivePath, level) || !writer.WriteBytes(stream.data(), stream.size()) ||
        !writer.Close())
        Fail("cannot write the archive", archivePath);

    OracleReading reading = ReadArchiveOracle(archivePath);
    ExpectedRun expected = PredictWritingPass(reading);
    bool endedEarly = false;
    int result = 0;
    totalfilesize = 0;
    bytescount = 0;
    if (InitInterface() == 0)
        Fail("the window does not open", archivePath);
    try {
        result = HandleArchive(archivePath.c_str(), dest.c_str());
    } catch (const EarlyEnd &) {
        endedEarly = true;
    }
    CloseInterface();
    /* An early end leaves the stream and the buffer to the end of the process. */
    if (archive != NULL)
        CloseArchive();
    free(Buffer);
    Buffer = NULL;

    OpenUpTree(base.Path());
    TreeSnapshot outside = SnapshotTree(base.Path());
    for (auto it = outside.begin(); it != outside.end();)
        it = it->first.rfind("a/b/c/dest/", 0) == 0 ? outside.erase(it) : std::next(it);
    TreeSnapshot expectedOutside = {{"a", "dir"},
                                    {"a/b", "dir"},
                                    {"a/b/c", "dir"},
                                    {"a/b/c/dest", "dir"},
                                    {"a/b/c/archive", outside["a/b/c/archive"]}};
    if (outside != expectedOutside)
        Fail("something was created outside the destination", archivePath);

    TreeSnapshot made = SnapshotTree(dest);
    if (endedEarly && !made.empty())
        Fail("the sizing pass refused the archive, yet something was created", archivePath);
    if (HoldsWholeTree(stream, reading)) {
        for (const auto &[name, content] : made) {
            if (content.rfind("link:", 0) == 0 && !StaysInside(name, content.substr(5)))
                Fail("a symbolic link leads out of the destination", archivePath);
        }
        return;
    }
    bool refusedBySizing = expected.result == RUN_FAILED && expected.tree.empty() && endedEarly;
    if (endedEarly && !made.empty())
        Fail("the sizing pass refused the archive, yet something was created", archivePath);
    if (endedEarly != (reading.fault != OracleFault::None))
        Fail("the sizing pass and the independent reading disagree", archivePath);
    if (!endedEarly && result != expected.result)
        Fail("the writing pass ended otherwise than the independent reading says", archivePath);
    if (!refusedBySizing && made != expected.tree)
        Fail("the tree differs from what the independent reading says", archivePath);
}

} // namespace

void EndRunEarly(void)
{
    throw EarlyEnd{};
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    HostControls &controls = GetHostControls();
    controls.presentation = "headless";
    controls.instantClock = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string stream(reinterpret_cast<const char *>(data), size);
    CheckArchiveFile(stream, PLAIN_STREAM);
    CheckArchiveFile(stream, 1);
    return 0;
}

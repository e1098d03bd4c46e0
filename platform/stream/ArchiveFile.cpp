#include "HostStream.h"

#include "../text/HostReason.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

/* The file of the last opening, kept open so that the next opening of the
   same name reads the same bytes even when the name is replaced meanwhile
   (a download finishing, a package updated). */
struct KeptFile {
    std::string name;
    int descriptor = -1;
    struct stat status = {};
    bool reading = false;
    uint64_t archive = 0;
};

KeptFile kept;

/* The number of the last archive opened afresh. */
uint64_t lastArchive = 0;

/* The region that HoldArchiveRegion names, and its file as it was then. */
struct HeldRegion {
    std::string name;
    ArchiveRegion region;
    off_t size = 0;
    struct timespec modified = {};
    uint64_t archive = 0;
};

HeldRegion held;

void ForgetKeptFile()
{
    if (kept.descriptor >= 0)
        close(kept.descriptor);
    kept.descriptor = -1;
    kept.reading = false;
}

bool IsSameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

/* Whether the file is as it was: a change in place moves its modification
   time, which its owner can set back, and always its status-change time,
   which nobody can. Adding or removing a name moves the status-change time
   too, and a name replaced by a newer file is no change of this one: the
   status-change time counts only while the number of names stays. */
bool IsUnchanged(const struct stat &now, const struct stat &then)
{
    return now.st_size == then.st_size && IsSameTime(now.st_mtim, then.st_mtim) &&
           (now.st_nlink != then.st_nlink || IsSameTime(now.st_ctim, then.st_ctim));
}

int OpenForReading(const char *path, int flags)
{
    int descriptor;
    do
        descriptor = open(path, flags | O_RDONLY | O_CLOEXEC | O_NOCTTY);
    while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

/* Opens for reading the object that located (an O_PATH descriptor) names.
   Through /proc it is that very object, whatever its name names by now.
   Without /proc the name is opened again: without following a link at its
   end (the name's links are resolved first) and without waiting, since it
   may be a FIFO by now, and only the same object is taken. */
int Reopen(const char *name, int located, const struct stat &status)
{
    std::string path = "/proc/self/fd/" + std::to_string(located);
    int descriptor = OpenForReading(path.c_str(), 0);
    if (descriptor >= 0 || errno != ENOENT)
        return descriptor;
    char *resolved = realpath(name, nullptr);
    if (resolved == nullptr)
        return -1;
    descriptor = OpenForReading(resolved, O_NOFOLLOW | O_NONBLOCK);
    free(resolved);
    struct stat opened;
    if (descriptor >= 0 && (fstat(descriptor, &opened) != 0 || opened.st_dev != status.st_dev ||
                            opened.st_ino != status.st_ino)) {
        close(descriptor);
        errno = ENOENT;
        return -1;
    }
    /* A file system in user space may take O_NONBLOCK at its word. */
    if (descriptor >= 0)
        fcntl(descriptor, F_SETFL, 0);
    return descriptor;
}

bool ReopenKeptFile(ArchiveRegion &region)
{
    struct stat status;
    if (fstat(kept.descriptor, &status) != 0 || !IsUnchanged(status, kept.status)) {
        ForgetKeptFile();
        RecordHostReasonText("The file changed after it was first read");
        return false;
    }
    int descriptor = fcntl(kept.descriptor, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0) {
        RecordHostReason(errno);
        return false;
    }
    region = {descriptor, 0, uint64_t(status.st_size), kept.archive};
    kept.reading = true;
    RecordHostReason(0);
    return true;
}

bool OpenHeldRegion(ArchiveRegion &region)
{
    struct stat status;
    if (fstat(held.region.descriptor, &status) != 0 || status.st_size != held.size ||
        status.st_mtim.tv_sec != held.modified.tv_sec ||
        status.st_mtim.tv_nsec != held.modified.tv_nsec) {
        RecordHostReasonText("The file changed after it was first read");
        return false;
    }
    region = held.region;
    region.archive = held.archive;
    region.descriptor = fcntl(held.region.descriptor, F_DUPFD_CLOEXEC, 0);
    if (region.descriptor < 0) {
        RecordHostReason(errno);
        return false;
    }
    RecordHostReason(0);
    return true;
}

} // namespace

void HoldArchiveRegion(const char *name, const ArchiveRegion &region)
{
    struct stat status;
    held.name = name;
    held.region = region;
    held.archive = ++lastArchive;
    if (fstat(region.descriptor, &status) == 0) {
        held.size = status.st_size;
        held.modified = status.st_mtim;
    }
}

bool OpenArchiveFile(const char *name, ArchiveRegion &region)
{
    if (held.region.descriptor >= 0 && held.name == name)
        return OpenHeldRegion(region);
    if (kept.descriptor >= 0 && !kept.reading && kept.name == name)
        return ReopenKeptFile(region);
    ForgetKeptFile();
    /* The type is learnt without opening the file for reading: opening a
       FIFO waits for a writer, and opening a device may act on it. */
    int located = open(name, O_PATH | O_CLOEXEC);
    if (located < 0) {
        RecordHostReason(errno);
        return false;
    }
    struct stat status;
    if (fstat(located, &status) != 0 || !S_ISREG(status.st_mode)) {
        RecordHostReasonText("Not a regular file: the archive is read twice, so it must be a file");
        close(located);
        return false;
    }
    int descriptor = Reopen(name, located, status);
    int reason = errno;
    close(located);
    /* Every size comes from the descriptor that is read. */
    if (descriptor < 0 || fstat(descriptor, &status) != 0) {
        RecordHostReason(descriptor < 0 ? reason : errno);
        if (descriptor >= 0)
            close(descriptor);
        return false;
    }
    kept.descriptor = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    kept.name = name;
    kept.status = status;
    kept.reading = true;
    kept.archive = ++lastArchive;
    region = {descriptor, 0, uint64_t(status.st_size), kept.archive};
    RecordHostReason(0);
    return true;
}

void CloseArchiveFile()
{
    kept.reading = false;
}

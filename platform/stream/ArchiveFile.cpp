#include "HostStream.h"

#include "../text/HostReason.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* The file of the last opening, kept open so that the next opening of the
   same name reads the same bytes even when the name is replaced meanwhile
   (a download finishing, a package updated). */
struct KeptFile {
    std::string name;
    int descriptor = -1;
    off_t size = 0;
    struct timespec modified = {};
    bool reading = false;
};

KeptFile kept;

/* The region that HoldArchiveRegion names, and its file as it was then. */
struct HeldRegion {
    std::string name;
    ArchiveRegion region;
    off_t size = 0;
    struct timespec modified = {};
};

HeldRegion held;

void ForgetKeptFile()
{
    if (kept.descriptor >= 0)
        close(kept.descriptor);
    kept.descriptor = -1;
    kept.reading = false;
}

/* A FIFO opened for reading without O_NONBLOCK waits for a writer, so the
   type is checked on a descriptor that cannot block. A file under a lease
   (a file server's) answers EWOULDBLOCK then; it is a regular file and
   worth the wait for the lease to go. */
int OpenWithoutWaiting(const char *name)
{
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
    int descriptor;
    do
        descriptor = open(name, flags | O_NONBLOCK);
    while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0 && errno == EWOULDBLOCK) {
        do
            descriptor = open(name, flags);
        while (descriptor < 0 && errno == EINTR);
    }
    return descriptor;
}

bool ReopenKeptFile(ArchiveRegion &region)
{
    struct stat status;
    if (fstat(kept.descriptor, &status) != 0 || status.st_size != kept.size ||
        status.st_mtim.tv_sec != kept.modified.tv_sec ||
        status.st_mtim.tv_nsec != kept.modified.tv_nsec) {
        ForgetKeptFile();
        RecordHostReasonText("The file changed after it was first read");
        return false;
    }
    int descriptor = fcntl(kept.descriptor, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0) {
        RecordHostReason(errno);
        return false;
    }
    region = {descriptor, 0, uint64_t(kept.size)};
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
    region.descriptor = fcntl(held.region.descriptor, F_DUPFD_CLOEXEC, 0);
    if (region.descriptor < 0) {
        RecordHostReason(errno);
        return false;
    }
    RecordHostReason(0);
    return true;
}

}  // namespace

void HoldArchiveRegion(const char *name, const ArchiveRegion &region)
{
    struct stat status;
    held.name = name;
    held.region = region;
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
    int descriptor = OpenWithoutWaiting(name);
    if (descriptor < 0) {
        RecordHostReason(errno);
        return false;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        RecordHostReasonText("Not a regular file: the archive is read twice, so it must be a file");
        close(descriptor);
        return false;
    }
    /* A file system in user space may take O_NONBLOCK at its word. */
    fcntl(descriptor, F_SETFL, 0);
    kept.descriptor = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    kept.name = name;
    kept.size = status.st_size;
    kept.modified = status.st_mtim;
    kept.reading = true;
    region = {descriptor, 0, uint64_t(status.st_size)};
    RecordHostReason(0);
    return true;
}

void CloseArchiveFile()
{
    kept.reading = false;
}

#include "../host/HostControls.h"
#include "../text/HostReason.h"
#include "Beneath.h"
#include "HostLibraries.h"
#include "RunEnding.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct NewlibIFace hostNewlibInterface;

namespace {

std::atomic<RunEnding> runEnding{nullptr};

/* The ending runs once: whichever end of the run comes first takes it. */
int PassThroughEnding(int code, bool atOnce)
{
    RunEnding ending = runEnding.exchange(nullptr);
    return ending != nullptr ? ending(code, atOnce) : code;
}

/* The open flags of an fopen mode: 'r', 'w' or 'a', then '+' or 'b'. */
int ReadMode(const char *mode)
{
    bool update = mode[0] != '\0' && (mode[1] == '+' || (mode[1] != '\0' && mode[2] == '+'));
    int access = update ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
    switch (mode[0]) {
    case 'w':
        return access | O_CREAT | O_TRUNC;
    case 'a':
        return access | O_CREAT | O_APPEND;
    default:
        return access;
    }
}

/* A regular file under a lease (a file server's, say) answers a
   non-blocking opening with EWOULDBLOCK until the holder gives the lease
   up; that opening is worth the wait. The object is checked through an
   O_PATH descriptor, which opens nothing, and that same object is then
   opened through it, so that nothing swapped in meanwhile (a FIFO, a
   device) is ever waited on. */
int OpenLeasedBeneath(int parent, const char *last, int access)
{
    int object = OpenLastBeneath(parent, last, O_PATH);
    if (object < 0)
        return -1;
    struct stat status;
    int descriptor = -1;
    bool known = fstat(object, &status) == 0;
    if (known && !S_ISREG(status.st_mode)) {
        errno = S_ISLNK(status.st_mode) ? ELOOP : ENXIO;
    } else if (known) {
        std::string same = "/proc/self/fd/" + std::to_string(object);
        do
            descriptor = open(same.c_str(), access | O_NOCTTY | O_CLOEXEC);
        while (descriptor < 0 && errno == EINTR);
    }
    int error = errno;
    close(object);
    errno = error;
    return descriptor;
}

/* Opens a file below the held directory root. A file created here is a
   regular one; one already there is opened without blocking (a FIFO waits
   for a reader otherwise) and without following a link, and used only if
   it is a regular file, which is cut to nothing only then; one under a
   lease is waited for. An existing file keeps its permissions, and its
   other names see the new content.
   -1 with errno set: ELOOP for a symbolic link on the way, ENXIO for an
   object that is not a regular file. */
int OpenBeneath(int root, const std::string &below, int flags)
{
    const char *last;
    int parent = ResolveParentBeneath(root, below.c_str(), &last);
    if (parent < 0)
        return -1;
    int access = flags & ~(O_CREAT | O_TRUNC);
    if ((flags & O_CREAT) != 0) {
        int created = OpenLastBeneath(parent, last, access | O_CREAT | O_EXCL, 0666);
        if (created >= 0 || errno != EEXIST)
            return created;
    }
    int descriptor = OpenLastBeneath(parent, last, access | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0 && errno == EWOULDBLOCK)
        descriptor = OpenLeasedBeneath(parent, last, access);
    if (descriptor < 0)
        return -1;
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        errno = ENXIO;
        return -1;
    }
    if (((flags & O_TRUNC) != 0 && status.st_size > 0 && ftruncate(descriptor, 0) != 0) ||
        fcntl(descriptor, F_SETFL, access & O_APPEND) != 0) {
        int error = errno;
        close(descriptor);
        errno = error;
        return -1;
    }
    return descriptor;
}

}  // namespace

/* The runtime's abort ends the process through the ordinary exit path, so the
   start-up still closes every library it opened, and with a return code the
   calling script can test rather than a signal and a core dump. */
void NewlibIFace::abort()
{
    exit(NEWLIB_ABORT_RETURN_CODE);
}

void SetRunEnding(RunEnding ending)
{
    runEnding = ending;
}

void NewlibIFace::exit(int code)
{
    std::exit(PassThroughEnding(code, false));
}

void NewlibIFace::_exit(int code)
{
    ::_exit(PassThroughEnding(code, true));
}

FILE *NewlibIFace::fopen(const char *name, const char *mode)
{
    int root;
    std::string below;
    if (!FindLockAbove(name, root, below)) {
        FILE *file = std::fopen(name, mode);
        RecordHostReason(file != nullptr ? 0 : errno);
        return file;
    }
    int descriptor = OpenBeneath(root, below, ReadMode(mode));
    if (descriptor < 0) {
        /* ENXIO is also what a FIFO that nobody reads answers. */
        if (errno == ELOOP)
            RecordHostReasonText("A symbolic link is in the way");
        else if (errno == ENXIO)
            RecordHostReasonText("Not a regular file");
        else
            RecordHostReason(errno);
        return nullptr;
    }
    RecordHostReason(0);
    FILE *file = fdopen(descriptor, mode);
    if (file == nullptr) {
        RecordHostReason(errno);
        close(descriptor);
    }
    return file;
}

size_t NewlibIFace::fwrite(const void *data, size_t size, size_t count, FILE *file)
{
    size_t written = std::fwrite(data, size, count, file);
    RecordHostReason(written < count ? errno : 0);
    return written;
}

/* VELORIN_HOST_FAIL=fclose: the file is closed, but the close reports the
   loss of data that a network file system reports there. */
int NewlibIFace::fclose(FILE *file)
{
    int result = std::fclose(file);
    if (result == 0 && IsHostCallFailing("fclose")) {
        errno = EIO;
        result = EOF;
    }
    RecordHostReason(result != 0 ? errno : 0);
    return result;
}

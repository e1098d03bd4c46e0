#include "../host/HostControls.h"
#include "HostLibraries.h"
#include "HostProtection.h"
#include "../presentation/Presentation.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* dos.library on POSIX. Names are host paths and reach the file system
   unchanged; a lock holds an O_PATH descriptor, so the object it names stays
   the one that was locked. */

struct DOSIFace hostDosInterface;

namespace {

struct FileLock {
    int descriptor;
};

LONG lastError;
unsigned heldLocks;

LONG MapErrno(int error)
{
    switch (error) {
    case EEXIST:
        return ERROR_OBJECT_EXISTS;
    case ENOENT:
        return ERROR_OBJECT_NOT_FOUND;
    case ENOTDIR:
        return ERROR_OBJECT_WRONG_TYPE;
    case EACCES:
    case EPERM:
        return ERROR_WRITE_PROTECTED;
    case EROFS:
        return ERROR_DISK_WRITE_PROTECTED;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_INVALID_COMPONENT_NAME;
    case ELOOP:
        return ERROR_TOO_MANY_LEVELS;
    case ENOMEM:
        return ERROR_NO_FREE_STORE;
    case EBUSY:
        return ERROR_OBJECT_IN_USE;
    default:
        return ERROR_ACTION_NOT_KNOWN;
    }
}

BPTR MakeLock(int descriptor)
{
    FileLock *lock = static_cast<FileLock *>(std::malloc(sizeof(FileLock)));
    if (lock == nullptr) {
        close(descriptor);
        lastError = ERROR_NO_FREE_STORE;
        return 0;
    }
    lock->descriptor = descriptor;
    heldLocks++;
    return reinterpret_cast<BPTR>(lock);
}

}  // namespace

BPTR DOSIFace::Lock(CONST_STRPTR name, LONG)
{
    int descriptor = open(name, O_PATH | O_CLOEXEC);
    if (descriptor < 0) {
        lastError = MapErrno(errno);
        return 0;
    }
    return MakeLock(descriptor);
}

void DOSIFace::UnLock(BPTR lock)
{
    if (lock == 0)
        return;
    FileLock *fileLock = reinterpret_cast<FileLock *>(lock);
    close(fileLock->descriptor);
    std::free(fileLock);
    heldLocks--;
}

BPTR DOSIFace::CreateDir(CONST_STRPTR name)
{
    if (mkdir(name, 0777) != 0) {
        lastError = MapErrno(errno);
        return 0;
    }
    int descriptor = open(name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        lastError = MapErrno(errno);
        return 0;
    }
    return MakeLock(descriptor);
}

/* Only what the program asks of it: whether the object is a directory. */
LONG DOSIFace::Examine(BPTR lock, struct FileInfoBlock *info)
{
    struct stat status;
    if (lock == 0 || fstat(reinterpret_cast<FileLock *>(lock)->descriptor, &status) != 0) {
        lastError = lock == 0 ? ERROR_OBJECT_NOT_FOUND : MapErrno(errno);
        return DOSFALSE;
    }
    info->fib_DirEntryType = S_ISDIR(status.st_mode) ? ST_USERDIR : ST_FILE;
    return DOSTRUE;
}

LONG DOSIFace::SetProtection(CONST_STRPTR name, ULONG protect)
{
    int error = ApplyProtection(name, protect);
    if (error != 0) {
        lastError = MapErrno(error);
        return DOSFALSE;
    }
    return DOSTRUE;
}

LONG DOSIFace::IoErr()
{
    return lastError;
}

/* With a window open the pause is the presentation's, which keeps the
   window alive and shows it to the person while the program waits. */
void DOSIFace::Delay(LONG ticks)
{
    if (!GetOpenWindows().empty()) {
        GetPresentation().Pause(ticks);
        return;
    }
    unsigned long long milliseconds = GetPauseMilliseconds(ticks);
    timespec remaining = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

unsigned CountHeldLocks()
{
    return heldLocks;
}

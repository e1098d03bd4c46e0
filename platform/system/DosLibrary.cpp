#include "../host/HostControls.h"
#include "../text/HostReason.h"
#include "Beneath.h"
#include "Clock.h"
#include "DosCalls.h"
#include "HeldDestination.h"
#include "HostLibraries.h"
#include "HostProtection.h"
#include "KeptLock.h"
#include "RunTally.h"
#include "WindowHooks.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

/* dos.library on POSIX. Names are host paths. A lock holds an O_PATH
   descriptor, so the object it names stays the one that was locked; a name
   below a directory that is locked is resolved from that lock, never
   through a symbolic link (Beneath.h), so that nothing the program creates
   or looks at below its destination can lead out of it. */

struct DOSIFace hostDosInterface;

namespace
{

LONG lastError;
std::vector<HostLock *> heldLocks;
/* HoldDestination's directory, and its name. */
int heldDestination = -1;
std::string heldDestinationName;

LONG MapErrno(int error)
{
    switch (error) {
    case EEXIST:
        return ERROR_OBJECT_EXISTS;
    case ENOENT:
        return ERROR_OBJECT_NOT_FOUND;
    case ENOTDIR:
    case EISDIR:
    case ENXIO:
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
    case EXDEV:
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

BPTR MakeLock(int descriptor, CONST_STRPTR name)
{
    HostLock *lock = new (std::nothrow) HostLock{descriptor, name, -1, {}};
    if (lock == nullptr) {
        close(descriptor);
        FailDosCall(ENOMEM);
        return 0;
    }
    heldLocks.push_back(lock);
    RecordHostReason(0);
    return reinterpret_cast<BPTR>(lock);
}

/* A directory made, or one already in its place, which the run takes as
   that directory. errno is kept for the caller's report. */
void CountDirectory(bool counted)
{
    if (counted)
        GetRunTally().directories++;
}

} // namespace

/* A failed call: IoErr's code and the host's reason for the error line. */
void FailDosCall(int error)
{
    lastError = MapErrno(error);
    RecordHostReason(error);
}

/* A failure below a held lock. A symbolic link met there is
   ERROR_IS_SOFT_LINK: the name cannot be used. */
void FailDosCallBeneath(int error)
{
    if (error != ELOOP) {
        FailDosCall(error);
        return;
    }
    lastError = ERROR_IS_SOFT_LINK;
    RecordHostReasonText("A symbolic link is in the way");
}

bool FindLockAbove(CONST_STRPTR name, int &directory, std::string &below)
{
    const HostLock *found = nullptr;
    size_t foundLength = 0;
    for (const HostLock *lock : heldLocks) {
        const std::string &held = lock->name;
        if (held.empty() || held.size() <= foundLength ||
            std::strncmp(name, held.c_str(), held.size()) != 0)
            continue;
        const char *rest = name + held.size();
        if (held.back() != '/' && *rest != '/')
            continue;
        found = lock;
        foundLength = held.size();
    }
    if (found == nullptr)
        return false;
    const char *start = name + foundLength;
    while (*start == '/')
        start++;
    const char *end = start + std::strlen(start);
    while (end > start && end[-1] == '/')
        end--;
    if (end == start)
        return false;
    directory = found->descriptor;
    below.assign(start, end);
    return true;
}

void HoldDestination(const char *name, int descriptor)
{
    if (heldDestination >= 0)
        close(heldDestination);
    heldDestination = descriptor;
    heldDestinationName = name;
}

BPTR DOSIFace::Lock(CONST_STRPTR name, LONG)
{
    if (heldDestination >= 0 && heldDestinationName == name) {
        int descriptor = fcntl(heldDestination, F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0) {
            FailDosCall(errno);
            return 0;
        }
        NoteLockTaken(name, descriptor);
        return MakeLock(descriptor, name);
    }
    int root;
    std::string below;
    if (FindLockAbove(name, root, below)) {
        const char *last;
        int parent = ResolveParentBeneath(root, below.c_str(), &last);
        int descriptor = parent < 0 ? -1 : OpenObjectBeneath(parent, last);
        if (descriptor < 0) {
            FailDosCallBeneath(errno);
            /* A lock asked for is the question whether a link is in the
               way; the caller's answer to it says so itself. */
            if (lastError == ERROR_IS_SOFT_LINK)
                RecordHostReason(0);
            return 0;
        }
        return MakeLock(descriptor, name);
    }
    int descriptor = open(name, O_PATH | O_CLOEXEC);
    if (descriptor < 0) {
        FailDosCall(errno);
        return 0;
    }
    NoteLockTaken(name, descriptor);
    return MakeLock(descriptor, name);
}

void DOSIFace::UnLock(BPTR lock)
{
    if (lock == 0)
        return;
    HostLock *fileLock = reinterpret_cast<HostLock *>(lock);
    ForgetResolvedBeneath(fileLock->descriptor);
    /* The next entries most likely go inside the directory just made: the
       resolver keeps its descriptor rather than look it up again. */
    if (fileLock->root >= 0)
        KeepResolvedBeneath(fileLock->root, fileLock->below, fileLock->descriptor);
    else
        close(fileLock->descriptor);
    std::erase(heldLocks, fileLock);
    delete fileLock;
}

BPTR DOSIFace::CreateDir(CONST_STRPTR name)
{
    int root;
    std::string below;
    if (FindLockAbove(name, root, below)) {
        const char *last;
        int parent = ResolveParentBeneath(root, below.c_str(), &last);
        if (parent < 0 || mkdirat(parent, last, 0777) != 0) {
            CountDirectory(parent >= 0 && errno == EEXIST);
            FailDosCallBeneath(errno);
            return 0;
        }
        CountDirectory(true);
        int descriptor = OpenLastBeneath(parent, last, O_PATH | O_DIRECTORY);
        if (descriptor < 0) {
            FailDosCallBeneath(errno);
            return 0;
        }
        BPTR lock = MakeLock(descriptor, name);
        if (lock != 0) {
            reinterpret_cast<HostLock *>(lock)->root = root;
            reinterpret_cast<HostLock *>(lock)->below = below;
        }
        return lock;
    }
    if (mkdir(name, 0777) != 0) {
        CountDirectory(errno == EEXIST);
        FailDosCall(errno);
        return 0;
    }
    CountDirectory(true);
    int descriptor = open(name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        FailDosCall(errno);
        return 0;
    }
    return MakeLock(descriptor, name);
}

/* Only what the program asks of it: whether the object is a directory, and
   whether the user running the program may create entries in it (the
   permissions, a read-only file system); asked of the object itself, so
   that the answer is about what the lock holds. */
LONG DOSIFace::Examine(BPTR lock, struct FileInfoBlock *info)
{
    struct stat status;
    if (lock == 0) {
        lastError = ERROR_OBJECT_NOT_FOUND;
        RecordHostReason(0);
        return DOSFALSE;
    }
    if (fstat(reinterpret_cast<HostLock *>(lock)->descriptor, &status) != 0) {
        FailDosCall(errno);
        return DOSFALSE;
    }
    info->fib_DirEntryType = S_ISDIR(status.st_mode) ? ST_USERDIR : ST_FILE;
    info->fib_Protection = 0;
    if (S_ISDIR(status.st_mode) && faccessat(reinterpret_cast<HostLock *>(lock)->descriptor, ".",
                                             W_OK | X_OK, AT_EACCESS) != 0)
        info->fib_Protection |= FIBF_WRITE;
    RecordHostReason(0);
    return DOSTRUE;
}

/* A file that the runtime library has open for writing, or an object that
   is locked under this very name, is changed through that very descriptor, so that the file written
   is the file changed whatever happens to its name meanwhile. Any other object is looked up below a
   held lock as every other name is, without following a link and without being opened for reading
   or writing (a FIFO or device is never opened), and changed through that look-up. */
LONG DOSIFace::SetProtection(CONST_STRPTR name, ULONG protect)
{
    int error;
    mode_t *createdMode = nullptr;
    int created = FindCreatedFile(name, &createdMode);
    const HostLock *held = nullptr;
    for (const HostLock *lock : heldLocks)
        held = lock->name == name ? lock : held;
    if (created >= 0) {
        error = ApplyProtectionKnown(created, createdMode, protect);
    } else if (held != nullptr) {
        /* A directory just made and still locked is changed through its lock. */
        error = ApplyProtection(held->descriptor, protect);
    } else {
        int root;
        std::string below;
        int descriptor;
        if (FindLockAbove(name, root, below)) {
            const char *last;
            int parent = ResolveParentBeneath(root, below.c_str(), &last);
            descriptor = parent < 0 ? -1 : OpenObjectBeneath(parent, last);
        } else {
            descriptor = open(name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        }
        error = descriptor < 0 ? errno : ApplyProtection(descriptor, protect);
        if (descriptor >= 0)
            close(descriptor);
    }
    if (error != 0) {
        FailDosCallBeneath(error);
        return DOSFALSE;
    }
    RecordHostReason(0);
    return DOSTRUE;
}

/* The blocks that this user may not take count as used, so that free space
   is what a write can have; counts beyond a LONG are held at its largest,
   far above what an archive needs. A file system that keeps no count of
   blocks or of file nodes reports 0 for their number. */
LONG DOSIFace::Info(BPTR lock, struct InfoData *info)
{
    struct statvfs status;
    if (lock == 0 || fstatvfs(reinterpret_cast<HostLock *>(lock)->descriptor, &status) != 0) {
        FailDosCall(lock == 0 ? ENOENT : errno);
        return DOSFALSE;
    }
    auto held = [](unsigned long long count) { return LONG(std::min(count, 0x7fffffffULL)); };
    info->id_NumBlocks = held(status.f_blocks);
    info->id_NumBlocksUsed =
        info->id_NumBlocks - std::min(info->id_NumBlocks, held(status.f_bavail));
    info->id_BytesPerBlock = held(status.f_frsize);
    info->id_NumFileNodes = held(status.f_files);
    info->id_NumFileNodesUsed =
        info->id_NumFileNodes - std::min(info->id_NumFileNodes, held(status.f_favail));
    RecordHostReason(0);
    return DOSTRUE;
}

LONG DOSIFace::IoErr()
{
    return lastError;
}

/* The host's reason goes with the code, for the error line that follows. */
void DOSIFace::SetIoErr(LONG code)
{
    static const struct {
        LONG code;
        int error;
    } reasons[] = {
        {ERROR_OBJECT_EXISTS, EEXIST},
        {ERROR_OBJECT_NOT_FOUND, ENOENT},
        {ERROR_OBJECT_WRONG_TYPE, ENOTDIR},
        {ERROR_WRITE_PROTECTED, EACCES},
        {ERROR_DISK_WRITE_PROTECTED, EROFS},
        {ERROR_DISK_FULL, ENOSPC},
        {ERROR_INVALID_COMPONENT_NAME, ENAMETOOLONG},
        {ERROR_TOO_MANY_LEVELS, ELOOP},
        {ERROR_NO_FREE_STORE, ENOMEM},
        {ERROR_OBJECT_IN_USE, EBUSY},
    };
    lastError = code;
    RecordHostReason(0);
    if (code == ERROR_IS_SOFT_LINK)
        RecordHostReasonText("A symbolic link is in the way");
    for (const auto &reason : reasons) {
        if (reason.code == code)
            RecordHostReason(reason.error);
    }
}

/* On the host, ':' is an ordinary character of a name: only a '/' ends a
   path that a name can follow directly. */
BOOL DOSIFace::AddPart(STRPTR dirname, CONST_STRPTR filename, ULONG size)
{
    size_t length = std::strlen(dirname);
    bool separator = length > 0 && dirname[length - 1] != '/';
    size_t needed = length + (separator ? 1 : 0) + std::strlen(filename) + 1;
    if (needed > size)
        return FALSE;
    if (separator)
        dirname[length++] = '/';
    std::strcpy(dirname + length, filename);
    return TRUE;
}

/* With a window open the pause is the window's, which shows it to the
   person while the program waits (an error line); otherwise the program
   just sleeps. */
void DOSIFace::Delay(LONG ticks)
{
    if (!PauseWithWindow(ticks))
        PauseTicks(ticks);
}

unsigned CountHeldLocks()
{
    return unsigned(heldLocks.size());
}

#include "../text/HostReason.h"
#include "Beneath.h"
#include "DosCalls.h"
#include "HostLibraries.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* dos.library's links and dates on POSIX: hard and symbolic links made
   below the held destination, never through a link, and times set on what
   a name holds. */

namespace
{

/* Seconds from 1970 to 1978, where the system's dates start. */
constexpr long long DATE_STAMP_EPOCH = 252460800;

timespec TimeOfDateStamp(const DateStamp &date)
{
    long long seconds = (static_cast<long long>(date.ds_Days) * 1440 + date.ds_Minute) * 60 +
                        date.ds_Tick / TICKS_PER_SECOND + DATE_STAMP_EPOCH;
    long nanoseconds = long(date.ds_Tick % TICKS_PER_SECOND) * (1000000000L / TICKS_PER_SECOND) +
                       date.ds_Nanosecond;
    return {static_cast<time_t>(seconds), nanoseconds};
}

/* The directory that holds name's last component, below a held lock when
   there is one: *parent is then the resolver's descriptor (not the
   caller's to close), else AT_FDCWD with *last the whole name. false with
   errno set when the way there fails. */
bool ResolveParent(CONST_STRPTR name, std::string &below, int *parent, const char **last)
{
    int root;
    if (!FindLockAbove(name, root, below)) {
        *parent = AT_FDCWD;
        *last = name;
        return true;
    }
    *parent = ResolveParentBeneath(root, below.c_str(), last);
    return *parent >= 0;
}

/* Frees name for a link: a regular file or a link there is removed (never
   opened, never followed); anything else stays and the name stays taken. */
bool FreeNameForLink(int parent, const char *last)
{
    struct stat status;
    if (fstatat(parent, last, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
        errno = EEXIST;
        return false;
    }
    return unlinkat(parent, last, 0) == 0 || errno == ENOENT;
}

/* Links name (below) to the file that target holds: made from the
   target's name, then checked to be that very file, and taken back if
   another program swapped the name meanwhile. 0 or the errno value. */
int LinkLockedFile(const HostLock &target, CONST_STRPTR name)
{
    struct stat locked, linked;
    if (fstat(target.descriptor, &locked) != 0)
        return errno;
    std::string below;
    int parent;
    const char *last;
    if (!ResolveParent(target.name.c_str(), below, &parent, &last))
        return errno;
    /* The resolver keeps one directory at a time: the target's is held
       apart while the link's is looked up. */
    int targetParent = parent == AT_FDCWD ? AT_FDCWD : fcntl(parent, F_DUPFD_CLOEXEC, 0);
    if (targetParent == -1)
        return errno;
    std::string targetLast = last;
    int error = 0;
    if (!ResolveParent(name, below, &parent, &last)) {
        error = errno;
    } else if (linkat(targetParent, targetLast.c_str(), parent, last, 0) != 0) {
        error = errno;
        if (error == EEXIST)
            error = !FreeNameForLink(parent, last)                                   ? errno
                    : linkat(targetParent, targetLast.c_str(), parent, last, 0) == 0 ? 0
                                                                                     : errno;
    }
    if (targetParent != AT_FDCWD)
        close(targetParent);
    if (error != 0)
        return error;
    if (fstatat(parent, last, &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
        linked.st_dev != locked.st_dev || linked.st_ino != locked.st_ino) {
        unlinkat(parent, last, 0);
        return EBUSY;
    }
    return 0;
}

} // namespace

/* Times are set on what the name holds, a link itself included, never
   through a link: a file still open for writing through its descriptor. */
LONG DOSIFace::SetDate(CONST_STRPTR name, const struct DateStamp *date)
{
    timespec times[2] = {{0, UTIME_OMIT}, TimeOfDateStamp(*date)};
    int created = FindCreatedFile(name);
    int result;
    if (created >= 0) {
        result = futimens(created, times);
    } else {
        std::string below;
        int parent;
        const char *last;
        result = ResolveParent(name, below, &parent, &last)
                     ? utimensat(parent, last, times, AT_SYMLINK_NOFOLLOW)
                     : -1;
    }
    if (result != 0) {
        FailDosCallBeneath(errno);
        return DOSFALSE;
    }
    RecordHostReason(0);
    return DOSTRUE;
}

LONG DOSIFace::MakeLink(CONST_STRPTR name, APTR dest, LONG soft)
{
    int error = 0;
    if (soft != LINK_SOFT) {
        error = dest != nullptr ? LinkLockedFile(*static_cast<HostLock *>(dest), name) : ENOENT;
    } else {
        const char *target = static_cast<const char *>(dest);
        std::string below;
        int parent;
        const char *last;
        if (!ResolveParent(name, below, &parent, &last))
            error = errno;
        else if (symlinkat(target, parent, last) != 0)
            error = errno != EEXIST                        ? errno
                    : !FreeNameForLink(parent, last)       ? errno
                    : symlinkat(target, parent, last) == 0 ? 0
                                                           : errno;
    }
    if (error != 0) {
        FailDosCallBeneath(error);
        return DOSFALSE;
    }
    RecordHostReason(0);
    return DOSTRUE;
}

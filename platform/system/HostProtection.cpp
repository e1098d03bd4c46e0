#include "HostProtection.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dos/dos.h>

namespace
{

/* The permissions that protect allows: the owner's bits deny when set, the
   group's and others' allow when set. */
mode_t AllowedPermissions(ULONG protect)
{
    struct Bit {
        ULONG flag;
        bool allowsWhenSet;
        mode_t permission;
    };
    static const Bit bits[] = {
        {FIBF_READ, false, S_IRUSR},       {FIBF_WRITE, false, S_IWUSR},
        {FIBF_EXECUTE, false, S_IXUSR},    {FIBF_GRP_READ, true, S_IRGRP},
        {FIBF_GRP_WRITE, true, S_IWGRP},   {FIBF_GRP_EXECUTE, true, S_IXGRP},
        {FIBF_OTR_READ, true, S_IROTH},    {FIBF_OTR_WRITE, true, S_IWOTH},
        {FIBF_OTR_EXECUTE, true, S_IXOTH},
    };
    mode_t allowed = 0;
    for (const Bit &bit : bits) {
        if (((protect & bit.flag) != 0) == bit.allowsWhenSet)
            allowed |= bit.permission;
    }
    return allowed;
}

} // namespace

/* The umask can only be read by setting it; the program has one thread
   that creates files and never changes it, so it is read once, and putting
   it straight back leaves no gap that matters. */
mode_t CurrentUmask()
{
    static const mode_t mask = [] {
        mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return mask;
}

mode_t ModeForProtection(mode_t current, ULONG protect, mode_t mask)
{
    mode_t allowed = AllowedPermissions(protect);
    mode_t kept = current & allowed & 0777;
    /* Each class's execute bit sits two bits below its read bit. */
    mode_t readers = (current & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
    mode_t granted = allowed & readers & ~mask & (S_IXUSR | S_IXGRP | S_IXOTH);
    return kept | granted;
}

int ApplyProtectionKnown(int descriptor, mode_t *mode, ULONG protect)
{
    mode_t wanted = ModeForProtection(*mode, protect, CurrentUmask());
    if (wanted == *mode)
        return 0;
    if (fchmod(descriptor, wanted) != 0)
        return errno;
    *mode = wanted;
    return 0;
}

int ApplyProtection(int descriptor, ULONG protect)
{
    struct stat status;
    if (fstat(descriptor, &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        return EINVAL;
    mode_t mode = ModeForProtection(status.st_mode, protect, CurrentUmask());
    if ((status.st_mode & 07777) == mode)
        return 0;
    if (fchmod(descriptor, mode) == 0)
        return 0;
    if (errno != EBADF)
        return errno;
    /* A descriptor from a look-up alone (O_PATH) cannot change its object.
       A directory is opened through it; any other object is changed
       through its own entry in /proc. */
    if (S_ISDIR(status.st_mode)) {
        int directory = openat(descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0)
            return errno;
        int error = fchmod(directory, mode) == 0 ? 0 : errno;
        close(directory);
        return error;
    }
    std::string same = "/proc/self/fd/" + std::to_string(descriptor);
    return chmod(same.c_str(), mode) == 0 ? 0 : errno;
}

#include "Installer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

/* Removing the temporary directory calls nothing but the system, with no
   memory taken, so that it can run from a signal handler too. */

namespace
{

/* The directory that holds the temporary one, held open so that removing
   it never goes through a name that another program may have changed. */
int holder = -1;
char leaf[32];

const int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
/* Deeper trees are left: each level holds a descriptor while it is emptied. */
const int depthLimit = 256;

/* The first failure met, for the message. */
struct Failure {
    bool met = false;
    int error = 0;
    const char *what = "";
    char name[NAME_MAX + 1] = "";
} failure;

bool Fail(const char *what, const char *name, int error)
{
    if (!failure.met) {
        failure = {true, error, what, ""};
        std::strncpy(failure.name, name, sizeof failure.name - 1);
    }
    return false;
}

/* Whether the directory is where a file system is mounted: a bind mount
   of a directory of the same file system has the same device number, but
   the kernel marks its root (from Linux 5.8). */
bool IsMountRoot(int parent, const char *name)
{
    struct statx status;
    return statx(parent, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE, &status) == 0 &&
           (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

bool IsSame(int descriptor, const struct stat &expected)
{
    struct stat status;
    return fstat(descriptor, &status) == 0 && status.st_dev == expected.st_dev &&
           status.st_ino == expected.st_ino;
}

/* A directory the command made unreadable or unwritable (chmod 000 or
   300, as a user other than root) cannot be opened or emptied: its owner
   may give it its permissions back, through the parent, once the name is
   known to be this very directory. Linux 6.6's fchmodat2 refuses to follow
   a link; before it, a link put in its place meanwhile, which only the
   user's own programs can put in the private tree, is followed. */
void MakeAccessible(int parent, const char *name, const struct stat &status)
{
    if ((status.st_mode & S_IRWXU) == S_IRWXU)
        return;
    int path = openat(parent, name, O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
    if (path < 0)
        return;
    mode_t mode = (status.st_mode | S_IRWXU) & 07777;
    if (IsSame(path, status)) {
        const long fchmodat2 = 452;
        if (syscall(fchmodat2, parent, name, mode, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOSYS)
            fchmodat(parent, name, mode, 0);
    }
    close(path);
}

bool RemoveEntry(int parent, const char *name, dev_t device, int depth);

/* Empties the directory open at descriptor. Entries removed while the
   listing is read may make it pass over others, so it is read again until
   it is empty or nothing more can be removed. */
bool EmptyDirectory(int descriptor, dev_t device, int depth)
{
    for (;;) {
        bool found = false, removed = false;
        if (lseek(descriptor, 0, SEEK_SET) != 0)
            return Fail("cannot read a directory", "", errno);
        alignas(dirent64) char buffer[2048];
        for (;;) {
            ssize_t got = getdents64(descriptor, buffer, sizeof buffer);
            if (got < 0)
                return Fail("cannot read a directory", "", errno);
            if (got == 0)
                break;
            for (ssize_t at = 0; at < got;) {
                auto *item = reinterpret_cast<dirent64 *>(buffer + at);
                at += item->d_reclen;
                const char *name = item->d_name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                    continue;
                found = true;
                if (RemoveEntry(descriptor, name, device, depth))
                    removed = true;
            }
        }
        if (!found)
            return true;
        if (!removed)
            return false;
    }
}

/* Removes one entry: links and files are unlinked, directories emptied
   first. A directory where another file system is mounted (a mount left
   behind) is not entered. */
bool RemoveEntry(int parent, const char *name, dev_t device, int depth)
{
    struct stat status;
    if (fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || Fail("cannot examine", name, errno);
    if (!S_ISDIR(status.st_mode))
        return unlinkat(parent, name, 0) == 0 || errno == ENOENT ||
               Fail("cannot remove", name, errno);
    if (status.st_dev != device || IsMountRoot(parent, name))
        return Fail("will not enter", name, EXDEV);
    if (depth >= depthLimit)
        return Fail("will not go deeper into", name, 0);
    MakeAccessible(parent, name, status);
    int child = openat(parent, name, directoryFlags);
    if (child < 0)
        return Fail("cannot open", name, errno);
    bool emptied = IsSame(child, status) ? EmptyDirectory(child, device, depth + 1)
                                         : Fail("cannot open", name, EAGAIN);
    close(child);
    return emptied && (unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT ||
                       Fail("cannot remove", name, errno));
}

} // namespace

bool MakeTemporaryDirectory(std::string &path, std::string &error)
{
    const char *base = std::getenv("TMPDIR");
    std::string parent = base != nullptr && *base != '\0' ? base : "/tmp";
    std::string pattern = parent + "/velorin-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a temporary directory in " + parent + ": " + std::strerror(errno);
        return false;
    }
    path = pattern;
    std::strncpy(leaf, path.c_str() + path.rfind('/') + 1, sizeof leaf - 1);
    holder = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (holder < 0) {
        error = "cannot open " + parent + ": " + std::strerror(errno);
        rmdir(path.c_str());
        return false;
    }
    return true;
}

bool RemoveTemporaryDirectoryAtOnce()
{
    if (holder < 0)
        return true;
    struct stat status;
    if (fstatat(holder, leaf, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || Fail("cannot examine", leaf, errno);
    return RemoveEntry(holder, leaf, status.st_dev, 0);
}

bool RemoveTemporaryDirectory(std::string &error)
{
    if (RemoveTemporaryDirectoryAtOnce())
        return true;
    error = std::string(failure.what) + (*failure.name != '\0' ? " " : "") + failure.name;
    if (failure.error != 0)
        error += std::string(": ") + std::strerror(failure.error);
    return false;
}

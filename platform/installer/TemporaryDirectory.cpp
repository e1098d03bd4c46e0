#include "Installer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

/* The directory that holds the temporary one, held open so that removing
   it never goes through a name that another program may have changed. */
int holder = -1;
std::string leaf;

const int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool Fail(std::string &error, const std::string &what)
{
    if (error.empty())
        error = what + ": " + std::strerror(errno);
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

/* Empties the directory open at descriptor: links and files are unlinked,
   directories emptied first. A directory where another file system is
   mounted (a mount left behind) is not entered. */
bool EmptyDirectory(int descriptor, dev_t device, std::string &error)
{
    int listing = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    DIR *directory = listing >= 0 ? fdopendir(listing) : nullptr;
    if (directory == nullptr) {
        if (listing >= 0)
            close(listing);
        return Fail(error, "cannot read a directory");
    }
    bool emptied = true;
    while (dirent *item = readdir(directory)) {
        const char *name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat status;
        if (fstatat(descriptor, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            emptied = Fail(error, std::string("cannot examine ") + name);
            continue;
        }
        if (!S_ISDIR(status.st_mode)) {
            if (unlinkat(descriptor, name, 0) != 0)
                emptied = Fail(error, std::string("cannot remove ") + name);
            continue;
        }
        if (status.st_dev != device || IsMountRoot(descriptor, name)) {
            errno = EXDEV;
            emptied = Fail(error, std::string("will not enter ") + name);
            continue;
        }
        int child = openat(descriptor, name, directoryFlags);
        if (child < 0) {
            emptied = Fail(error, std::string("cannot open ") + name);
            continue;
        }
        /* A directory that the command made read-only is made writable
           by its owner again, so that it can be emptied. */
        if ((status.st_mode & S_IRWXU) != S_IRWXU)
            fchmod(child, status.st_mode | S_IRWXU);
        bool childEmptied = EmptyDirectory(child, device, error);
        close(child);
        if (childEmptied && unlinkat(descriptor, name, AT_REMOVEDIR) != 0)
            childEmptied = Fail(error, std::string("cannot remove ") + name);
        emptied = emptied && childEmptied;
    }
    closedir(directory);
    return emptied;
}

} // namespace

bool MakeTemporaryDirectory(std::string &path, std::string &error)
{
    const char *base = std::getenv("TMPDIR");
    std::string parent = base != nullptr && *base != '\0' ? base : "/tmp";
    std::string pattern = parent + "/velorin-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return Fail(error, "cannot make a temporary directory in " + parent);
    path = pattern;
    holder = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    leaf = path.substr(path.rfind('/') + 1);
    if (holder < 0) {
        Fail(error, "cannot open " + parent);
        rmdir(path.c_str());
        return false;
    }
    return true;
}

bool RemoveTemporaryDirectory(std::string &error)
{
    int directory = openat(holder, leaf.c_str(), directoryFlags);
    struct stat status;
    if (directory < 0 || fstat(directory, &status) != 0) {
        if (directory >= 0)
            close(directory);
        return Fail(error, "cannot open it");
    }
    if ((status.st_mode & S_IRWXU) != S_IRWXU)
        fchmod(directory, S_IRWXU);
    bool emptied = EmptyDirectory(directory, status.st_dev, error);
    close(directory);
    if (emptied && unlinkat(holder, leaf.c_str(), AT_REMOVEDIR) != 0)
        return Fail(error, "cannot remove it");
    return emptied;
}

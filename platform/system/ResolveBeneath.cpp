#include "Beneath.h"

#include "../host/HostControls.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

/* The directory resolved last, by its path below its root. */
struct ResolvedDirectory {
    int root = -1;
    std::string path;
    int descriptor = -1;
};

ResolvedDirectory resolved;

/* openat2 resolves a whole path in the kernel with both guarantees at once;
   kernels before 5.6, and sandboxes that filter it out, do not have it. */
bool haveOpenat2 = true;

int OpenWithOpenat2(int base, const std::string &path, int flags = O_DIRECTORY)
{
    struct open_how how = {};
    how.flags = O_PATH | O_CLOEXEC | unsigned(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    /* EAGAIN: a rename elsewhere raced the lookup; it is safe to ask again. */
    for (int attempt = 0; attempt < 16; attempt++) {
        long descriptor = syscall(SYS_openat2, base, path.c_str(), &how, sizeof how);
        if (descriptor >= 0)
            return int(descriptor);
        if (errno != EAGAIN && errno != EINTR)
            break;
    }
    if (errno == ENOSYS || errno == EINVAL || errno == EPERM)
        haveOpenat2 = false;
    return -1;
}

/* O_NOFOLLOW with O_DIRECTORY answers ENOTDIR for a link; the caller is
   told ELOOP, as openat2 would. */
int OpenComponent(int current, const char *component)
{
    int descriptor = openat(current, component, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0 && errno == ENOTDIR) {
        struct stat status;
        if (fstatat(current, component, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(status.st_mode))
            errno = ELOOP;
        else
            errno = ENOTDIR;
    }
    return descriptor;
}

int OpenByComponents(int base, const std::string &path)
{
    int current = base;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".")
            continue;
        int next = OpenComponent(current, component.c_str());
        int error = errno;
        if (current != base)
            close(current);
        if (next < 0) {
            errno = error;
            return -1;
        }
        current = next;
    }
    return current != base ? current : fcntl(base, F_DUPFD_CLOEXEC, 0);
}

bool HoldsParentReference(const char *path)
{
    for (const char *component = path; component != nullptr;) {
        const char *slash = std::strchr(component, '/');
        size_t length = slash != nullptr ? size_t(slash - component) : std::strlen(component);
        if (length == 2 && component[0] == '.' && component[1] == '.')
            return true;
        component = slash != nullptr ? slash + 1 : nullptr;
    }
    return false;
}

int OpenDirectoryBeneath(int base, const std::string &path)
{
    if (haveOpenat2 && !IsHostCallFailing("openat2")) {
        int descriptor = OpenWithOpenat2(base, path);
        if (descriptor >= 0 || haveOpenat2)
            return descriptor;
    }
    return OpenByComponents(base, path);
}

} // namespace

int ResolveParentBeneath(int root, const char *below, const char **last)
{
    /* ".." could only lead up and out; no entry of a sound archive has it. */
    if (HoldsParentReference(below)) {
        errno = EXDEV;
        return -1;
    }
    const char *slash = std::strrchr(below, '/');
    *last = slash != nullptr ? slash + 1 : below;
    if (slash == nullptr)
        return root;
    std::string path(below, size_t(slash - below));
    if (resolved.root == root && resolved.path == path)
        return resolved.descriptor;
    /* Below the kept directory, only the rest of the path is looked up. */
    int base = root;
    std::string rest = path;
    if (resolved.root == root && path.size() > resolved.path.size() &&
        path.compare(0, resolved.path.size(), resolved.path) == 0 &&
        path[resolved.path.size()] == '/') {
        base = resolved.descriptor;
        rest = path.substr(resolved.path.size() + 1);
    }
    int descriptor = OpenDirectoryBeneath(base, rest);
    if (descriptor < 0)
        return -1;
    ForgetResolvedBeneath(resolved.root);
    resolved = {root, std::move(path), descriptor};
    return descriptor;
}

int OpenLastBeneath(int parent, const char *last, int flags, int mode)
{
    return openat(parent, last, flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

int OpenObjectBeneath(int parent, const char *last)
{
    if (haveOpenat2 && !IsHostCallFailing("openat2")) {
        int descriptor = OpenWithOpenat2(parent, last, 0);
        if (descriptor >= 0 || haveOpenat2)
            return descriptor;
    }
    /* O_PATH with O_NOFOLLOW opens a link itself rather than failing. */
    int descriptor = OpenLastBeneath(parent, last, O_PATH);
    struct stat status;
    if (descriptor >= 0 && fstat(descriptor, &status) == 0 && S_ISLNK(status.st_mode)) {
        close(descriptor);
        errno = ELOOP;
        return -1;
    }
    return descriptor;
}

void KeepResolvedBeneath(int root, const std::string &path, int descriptor)
{
    if (resolved.descriptor >= 0)
        close(resolved.descriptor);
    resolved = {root, path, descriptor};
}

void ForgetResolvedBeneath(int root)
{
    if (resolved.root != root || resolved.descriptor < 0)
        return;
    close(resolved.descriptor);
    resolved = {};
}

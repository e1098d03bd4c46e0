#include "Installer.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const int pathFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

/* Steps from the directory open at parent into name, which this run
   creates when it is missing. Once anything was created, every further
   step refuses a link: what is below a new directory is what the run made
   there, or a directory someone else made meanwhile, never a way out. */
int StepInto(int parent, const std::string &name, bool &creating)
{
    if (!creating) {
        int existing = openat(parent, name.c_str(), pathFlags);
        if (existing >= 0 || errno != ENOENT)
            return existing;
        creating = true;
    }
    if (mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST)
        return -1;
    int made = openat(parent, name.c_str(), pathFlags | O_NOFOLLOW);
    /* A link is opened as itself, which is no directory: say what it is. */
    struct stat status;
    if (made < 0 && errno == ENOTDIR &&
        fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
        errno = ELOOP;
    return made;
}

} // namespace

int MakeTargetDirectory(const std::string &path, std::string &error)
{
    int current = open(path[0] == '/' ? "/" : ".", pathFlags);
    bool creating = false;
    size_t start = 0;
    while (current >= 0 && start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        int next = StepInto(current, name, creating);
        int reason = errno;
        close(current);
        current = next;
        errno = reason;
    }
    if (current < 0) {
        error = "cannot create the directory " + path + ": " +
                (errno == ELOOP ? "a symbolic link is in the way" : std::strerror(errno));
        return -1;
    }
    return current;
}

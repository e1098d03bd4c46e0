#include "Installer.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

/* The absolute name, links resolved, when it names the file open at
   descriptor. */
std::string IfSameFile(const std::string &name, const struct stat &held)
{
    char resolved[PATH_MAX];
    struct stat status;
    if (realpath(name.c_str(), resolved) == nullptr || stat(resolved, &status) != 0 ||
        status.st_dev != held.st_dev || status.st_ino != held.st_ino)
        return "";
    return resolved;
}

} // namespace

std::string FindInstallerPath(const char *startedAs, int descriptor)
{
    struct stat held;
    if (fstat(descriptor, &held) != 0)
        return "";
    std::string found = IfSameFile("/proc/self/exe", held);
    if (!found.empty() || std::strchr(startedAs, '/') != nullptr)
        return found.empty() ? IfSameFile(startedAs, held) : found;
    /* Started through PATH, as the shell found it. */
    const char *path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "";
    for (size_t start = 0; path != nullptr;) {
        size_t end = list.find(':', start);
        std::string directory = list.substr(start, end - start);
        found = IfSameFile((directory.empty() ? "." : directory) + "/" + startedAs, held);
        if (!found.empty() || end == std::string::npos)
            break;
        start = end + 1;
    }
    return found;
}

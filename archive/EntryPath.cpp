#include "EntryPath.h"

#include <string.h>
#include <sys/stat.h>

/* The last directory found to exist with no link on the way to it, as a
   full path. Entries come in tree order, so most share it with the entry
   before; their directories then need no look at the file system again.
   Only this program changes the tree while it runs, and it creates no
   links. */
static char checkedDirectory[2048];

int LeadsThroughLink(const char *prefix, const char *name, int includingLast)
{
    char path[2048];
    size_t prefixLength = strlen(prefix);
    size_t nameLength = strlen(name);
    if (prefixLength + nameLength >= sizeof path)
        return 0;
    memcpy(path, prefix, prefixLength);
    memcpy(path + prefixLength, name, nameLength + 1);
    const char *lastSlash = strrchr(name, '/');
    size_t directoryEnd = lastSlash != NULL ? prefixLength + (size_t)(lastSlash - name) : 0;

    /* Start below the checked directory when it holds this entry. */
    size_t checkedLength = strlen(checkedDirectory);
    size_t start = 0;
    if (checkedLength > prefixLength && checkedLength <= directoryEnd &&
        memcmp(path, checkedDirectory, checkedLength) == 0 &&
        (path[checkedLength] == '/' || checkedLength == directoryEnd))
        start = checkedLength - prefixLength + 1;

    for (size_t end = start; end <= nameLength; end++) {
        int last = end == nameLength;
        if (!last && name[end] != '/')
            continue;
        if (last && !includingLast)
            break;
        char saved = path[prefixLength + end];
        path[prefixLength + end] = '\0';
        struct stat status;
        int found = lstat(path, &status) == 0;
        int link = found && S_ISLNK(status.st_mode);
        if (found && !link && prefixLength + end == directoryEnd && S_ISDIR(status.st_mode))
            memcpy(checkedDirectory, path, directoryEnd + 1);
        path[prefixLength + end] = saved;
        /* Nothing below a missing directory exists yet. */
        if (!found)
            return 0;
        if (link)
            return 1;
    }
    return 0;
}

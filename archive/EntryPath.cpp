#include "EntryPath.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

int LeadsThroughLink(const char *prefix, const char *name, int includingLast)
{
    char path[2048];
    size_t prefixLength = strlen(prefix);
    size_t nameLength = strlen(name);
    if (prefixLength + nameLength >= sizeof path)
        return 0;
    memcpy(path, prefix, prefixLength);
    for (size_t end = 0; end <= nameLength; end++) {
        int last = end == nameLength;
        if (!last && name[end] != '/')
            continue;
        if (last && !includingLast)
            break;
        memcpy(path + prefixLength, name, end);
        path[prefixLength + end] = '\0';
        struct stat status;
        /* Nothing below a missing directory exists yet. */
        if (lstat(path, &status) != 0)
            return 0;
        if (S_ISLNK(status.st_mode))
            return 1;
    }
    return 0;
}

#include "EntryPath.h"

#include <stdio.h>
#include <string.h>

#include <proto/dos.h>

int LeadsThroughLink(const char *prefix, const char *name, int includingLast)
{
    char path[2048];
    /* Without the last component, an entry at the top has nothing to check:
       its directory is the destination. */
    const char *lastSlash = strrchr(name, '/');
    int length = (int)strlen(name);
    if (!includingLast)
        length = lastSlash != NULL ? (int)(lastSlash - name) : 0;
    if (length == 0)
        return 0;
    if (snprintf(path, sizeof path, "%s%.*s", prefix, length, name) >= (int)sizeof path)
        return 0;
    BPTR lock = IDOS->Lock(path, SHARED_LOCK);
    if (lock != 0) {
        IDOS->UnLock(lock);
        return 0;
    }
    /* Anything else that stops the lock (nothing there yet, a file where a
       directory should be) is for the writing pass to meet. */
    return IDOS->IoErr() == ERROR_IS_SOFT_LINK;
}

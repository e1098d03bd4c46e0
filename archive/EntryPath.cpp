#include "EntryPath.h"

#include <string.h>

#include <proto/dos.h>

/* The directory entry last found missing from the destination: nothing
   below it can pass through a link that is already there, so the entries
   inside it need no look-up. Entries come in tree order, so one directory
   covers the whole new subtree that follows it. */
static char absentdir[2048];

void ForgetAbsentDirectory(void)
{
    absentdir[0] = '\0';
}

/* Whether path can be locked: 1 when it can, 0 with IoErr() set when not. */
static int CanLock(const char *path)
{
    BPTR lock = IDOS->Lock(path, SHARED_LOCK);
    if (lock == 0)
        return 0;
    IDOS->UnLock(lock);
    return 1;
}

int LeadsThroughLink(const char *prefix, const char *name, int isDirectory)
{
    char path[2048];
    size_t prefixLength = strlen(prefix), nameLength = strlen(name);
    if (prefixLength + nameLength >= sizeof path)
        return 0;
    memcpy(path, prefix, prefixLength);
    memcpy(path + prefixLength, name, nameLength + 1);
    size_t absentLength = strlen(absentdir);
    if (absentLength != 0 && strncmp(path, absentdir, absentLength) == 0 &&
        path[absentLength] == '/')
        return 0;
    if (CanLock(path))
        return 0;
    LONG error = IDOS->IoErr();
    if (error == ERROR_OBJECT_NOT_FOUND && isDirectory)
        strcpy(absentdir, path);
    if (error != ERROR_IS_SOFT_LINK || !isDirectory)
        return error == ERROR_IS_SOFT_LINK;
    /* A directory that is itself a link counts as one that exists (nothing
       is written to it); only a link among its parents stops it. */
    const char *lastSlash = strrchr(name, '/');
    if (lastSlash == NULL)
        return 0;
    path[prefixLength + (lastSlash - name)] = '\0';
    return !CanLock(path) && IDOS->IoErr() == ERROR_IS_SOFT_LINK;
}

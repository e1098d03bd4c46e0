#include "archive.h"

#include <stdio.h>
#include <string.h>

#include <proto/dos.h>

#include "../progress/progress.h"

/* thefile = the destination, followed by '/' unless it already ends in '/'
   or ':' (a volume name), so that an entry's name can follow it directly. */
static void FormDestinationPrefix(const char *destName)
{
    size_t length = strlen(destName);
    char last = length > 0 ? destName[length - 1] : '\0';
    const char *separator = last == '/' || last == ':' ? "" : "/";
    snprintf(thefile, sizeof thefile, "%s%s", destName, separator);
}

int UnpackArchive(const char *destName)
{
    /* An empty name would make the prefix "/", the root of the file system. */
    BPTR lock = destName[0] != '\0' ? IDOS->Lock(destName, SHARED_LOCK) : 0;
    FormDestinationPrefix(destName);
    /* A file where the destination should be is no place to unpack into;
       found here, before anything is written. */
    struct FileInfoBlock info;
    if (lock != 0 && (IDOS->Examine(lock, &info) == DOSFALSE || info.fib_DirEntryType <= 0)) {
        IDOS->UnLock(lock);
        lock = 0;
    }
    if (lock == 0) {
        snprintf(printbuffer, sizeof printbuffer, "Unable to change directory to %s", destName);
        UpdateMessage(printbuffer, 1);
        return RUN_FAILED;
    }
    int result;
    do {
        result = UnpackFile(archive);
    } while (result == ENTRY_DONE);
    IDOS->UnLock(lock);
    return result;
}

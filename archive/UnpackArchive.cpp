#include "archive.h"

#include <stdio.h>
#include <string.h>

#include <proto/dos.h>

#include "../progress/progress.h"

/* thefile = the destination, ready for an entry's name to follow it
   directly: the file system decides which separator that takes (none
   after a volume name on the system, always '/' on a POSIX host). */
static void FormDestinationPrefix(const char *destName)
{
    strncpy(thefile, destName, sizeof thefile - 1);
    thefile[sizeof thefile - 1] = '\0';
    IDOS->AddPart(thefile, "", sizeof thefile);
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

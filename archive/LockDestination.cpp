#include "archive.h"

#include <stdio.h>

#include <proto/dos.h>

#include "../progress/progress.h"

BPTR destlock;

int LockDestination(const char *destName)
{
    /* An empty name would make the prefix "/", the root of the file system. */
    destlock = destName[0] != '\0' ? IDOS->Lock(destName, SHARED_LOCK) : 0;
    /* A file where the destination should be is no place to unpack into;
       found here, before anything is written. */
    struct FileInfoBlock info;
    if (destlock != 0 &&
        (IDOS->Examine(destlock, &info) == DOSFALSE || info.fib_DirEntryType <= 0)) {
        IDOS->UnLock(destlock);
        destlock = 0;
        IDOS->SetIoErr(ERROR_OBJECT_WRONG_TYPE);
    }
    if (destlock == 0) {
        snprintf(printbuffer, sizeof printbuffer, "Unable to change directory to %s", destName);
        UpdateMessage(printbuffer, 1);
        return -1;
    }
    /* A destination the user may not write into is named at once, before
       any entry is read, rather than as the first entry that fails. */
    if (info.fib_Protection & FIBF_WRITE) {
        IDOS->UnLock(destlock);
        destlock = 0;
        snprintf(printbuffer, sizeof printbuffer, "-dest %s: Permission denied", destName);
        UpdateMessage(printbuffer, 1);
        return -1;
    }
    return 0;
}

void UnlockDestination(void)
{
    IDOS->UnLock(destlock);
    destlock = 0;
}

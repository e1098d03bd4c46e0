#include "archive.h"

#include <stdlib.h>

#include "../driver/driver.h"
#include "../progress/progress.h"

gzFile archive;
struct ArchiveHeader header;
uint8_t *Buffer;
int fakeit;
int64_t totalfilesize;
uint64_t bytescount;
char thefile[1024];
char printbuffer[512];

/* Ends the process after a fault found before the writing pass: nothing has
   been written, so the return code is that of every other early end. */
[[noreturn]] static void EndRunBeforeWriting(void)
{
    CloseInterface();
    EndRunEarly();
}

int HandleArchive(const char *archiveName, const char *destName)
{
    if (OpenArchive(archiveName) == -1)
        EndRunBeforeWriting();
    Buffer = (uint8_t *)malloc(BUFFER_SIZE);
    if (Buffer == NULL) {
        CloseArchive();
        UpdateMessage("Not enough memory to unpack the archive", 1);
        EndRunBeforeWriting();
    }
    fakeit = 1;
    if (LockDestination(destName) == -1)
        EndRunBeforeWriting();
    StartSpaceCount();
    if (UnpackArchive(destName) == RUN_FAILED) {
        UnlockDestination();
        EndRunBeforeWriting();
    }
    CloseArchive();
    if (CheckFreeSpace(destName) == -1) {
        UnlockDestination();
        EndRunBeforeWriting();
    }
    bytescount = 0;
    if (OpenArchive(archiveName) == -1) {
        UnlockDestination();
        EndRunBeforeWriting();
    }
    fakeit = 0;
    int result = UnpackArchive(destName);
    UnlockDestination();
    CloseArchive();
    free(Buffer);
    Buffer = NULL;
    return result;
}

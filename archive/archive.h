#ifndef ARCHIVE_ARCHIVE_H
#define ARCHIVE_ARCHIVE_H

#include <dos/dos.h>
#include <stddef.h>
#include <stdint.h>
#include <stream/gzip.h>

#include "../format/ArchiveFormat.h"

/* Results of UnpackFile, passed on by UnpackArchive and HandleArchive. */
#define ENTRY_DONE 0
#define ARCHIVE_ENDED 1
#define RUN_ABORTED 2
#define RUN_FAILED (-1)

/* The run's state. Byte counts are 64-bit so that the total gauge stays right
   for archives of any size. */
extern gzFile archive;
extern struct ArchiveHeader header;
extern uint8_t *Buffer;
extern int fakeit;
extern int64_t totalfilesize;
extern uint64_t bytescount;
extern char thefile[1024];
extern char printbuffer[512];
/* The destination, locked from the start of the sizing pass to the end of
   the writing pass: both passes work below the one directory it holds,
   whatever happens to its name meanwhile. */
extern BPTR destlock;
/* The free-space check: on unless the command line turns it off. */
extern int checkspace;

/* Before the sizing pass: learns the destination's block size and clears
   the count that CountEntrySpace adds to, once per file or directory. */
void StartSpaceCount(void);
void CountEntrySpace(uint32_t size);
/* After the sizing pass: -1, with the error line shown, when the
   destination's file system has not the blocks or file nodes counted free
   for this user; 0 when it has, or when that cannot be learnt. */
int CheckFreeSpace(const char *destName);

int HandleArchive(const char *archiveName, const char *destName);
int OpenArchive(const char *archiveName);
void CloseArchive(void);
int LockDestination(const char *destName);
void UnlockDestination(void);
int UnpackArchive(const char *destName);
int UnpackFile(gzFile stream);

#endif

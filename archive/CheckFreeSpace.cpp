#include "archive.h"

#include <stdio.h>

#include <proto/dos.h>

#include "../progress/progress.h"

/* Whether the space is checked; the driver turns it off for file systems
   that compress or deduplicate, whose free space says little. */
int checkspace = 1;
/* What the writing pass will take of the destination's file system,
   counted by the sizing pass: each file's data in whole blocks of
   spaceblocksize bytes, and one file node per file or directory. */
uint32_t spaceblocksize;
uint64_t neededblocks;
uint64_t neededentries;

#define BYTES_PER_MB 1000000ULL

void StartSpaceCount(void)
{
    struct InfoData info;
    spaceblocksize = 0;
    if (checkspace && IDOS->Info(destlock, &info) != DOSFALSE && info.id_BytesPerBlock > 0)
        spaceblocksize = (uint32_t)info.id_BytesPerBlock;
    neededblocks = 0;
    neededentries = 0;
}

void CountEntrySpace(uint32_t size)
{
    neededentries++;
    if (spaceblocksize != 0)
        neededblocks += (size + (uint64_t)spaceblocksize - 1) / spaceblocksize;
}

int CheckFreeSpace(const char *destName)
{
    struct InfoData info;
    /* What cannot be learnt is not held against the archive. */
    if (spaceblocksize == 0 || IDOS->Info(destlock, &info) == DOSFALSE)
        return 0;
    uint64_t freeblocks = (uint64_t)(info.id_NumBlocks - info.id_NumBlocksUsed);
    if (info.id_NumBlocks > 0 && neededblocks > freeblocks) {
        /* Needed rounded up and free rounded down: the figures shown
           differ as the amounts do. */
        uint64_t needed = (neededblocks * spaceblocksize + BYTES_PER_MB - 1) / BYTES_PER_MB;
        uint64_t available = freeblocks * spaceblocksize / BYTES_PER_MB;
        snprintf(printbuffer, sizeof printbuffer,
                 "Not enough space in %s: %llu MB needed, %llu MB free", destName,
                 (unsigned long long)needed, (unsigned long long)available);
        UpdateMessage(printbuffer, 1);
        return -1;
    }
    uint64_t freenodes = (uint64_t)(info.id_NumFileNodes - info.id_NumFileNodesUsed);
    if (info.id_NumFileNodes > 0 && neededentries > freenodes) {
        snprintf(printbuffer, sizeof printbuffer,
                 "Not enough space in %s: %llu files and directories needed, room for %llu",
                 destName, (unsigned long long)neededentries, (unsigned long long)freenodes);
        UpdateMessage(printbuffer, 1);
        return -1;
    }
    return 0;
}

#ifndef DOS_DOS_H
#define DOS_DOS_H

#include <exec/types.h>

/* A lock on a file-system object; 0 means no lock. */
typedef intptr_t BPTR;

#define ACCESS_READ (-2)
#define ACCESS_WRITE (-1)
#define SHARED_LOCK ACCESS_READ
#define EXCLUSIVE_LOCK ACCESS_WRITE

#define TICKS_PER_SECOND 50

#define DOSTRUE (-1L)
#define DOSFALSE 0L

/* What Examine fills in; a directory has a fib_DirEntryType above 0, a
   file one below 0. fib_Protection holds the protection bits below as they
   apply to the user running the program: FIBF_WRITE is set on a directory
   in which that user may not create anything. */
struct FileInfoBlock {
    LONG fib_DirEntryType;
    LONG fib_Protection;
};

/* What Info fills in: the file system's size and use in blocks of
   id_BytesPerBlock bytes. The system knows no limit on the number of
   objects a file system holds; the host's file systems have one, so the
   record also counts file nodes (each file and directory takes one). A
   count of 0 blocks or nodes means the file system keeps none. */
struct InfoData {
    LONG id_NumBlocks;
    LONG id_NumBlocksUsed;
    LONG id_BytesPerBlock;
    LONG id_NumFileNodes;
    LONG id_NumFileNodesUsed;
};

/* Protection bits, as SetProtection takes them. The owner's read, write,
   execute and delete bits deny when set; the group's and other users' allow
   when set. */
#define FIBB_DELETE 0
#define FIBB_EXECUTE 1
#define FIBB_WRITE 2
#define FIBB_READ 3
#define FIBB_ARCHIVE 4
#define FIBB_PURE 5
#define FIBB_SCRIPT 6
#define FIBB_GRP_DELETE 8
#define FIBB_GRP_EXECUTE 9
#define FIBB_GRP_WRITE 10
#define FIBB_GRP_READ 11
#define FIBB_OTR_DELETE 12
#define FIBB_OTR_EXECUTE 13
#define FIBB_OTR_WRITE 14
#define FIBB_OTR_READ 15

#define FIBF_DELETE (1L << FIBB_DELETE)
#define FIBF_EXECUTE (1L << FIBB_EXECUTE)
#define FIBF_WRITE (1L << FIBB_WRITE)
#define FIBF_READ (1L << FIBB_READ)
#define FIBF_ARCHIVE (1L << FIBB_ARCHIVE)
#define FIBF_PURE (1L << FIBB_PURE)
#define FIBF_SCRIPT (1L << FIBB_SCRIPT)
#define FIBF_GRP_DELETE (1L << FIBB_GRP_DELETE)
#define FIBF_GRP_EXECUTE (1L << FIBB_GRP_EXECUTE)
#define FIBF_GRP_WRITE (1L << FIBB_GRP_WRITE)
#define FIBF_GRP_READ (1L << FIBB_GRP_READ)
#define FIBF_OTR_DELETE (1L << FIBB_OTR_DELETE)
#define FIBF_OTR_EXECUTE (1L << FIBB_OTR_EXECUTE)
#define FIBF_OTR_WRITE (1L << FIBB_OTR_WRITE)
#define FIBF_OTR_READ (1L << FIBB_OTR_READ)

/* A point in time: days since 1 January 1978, minutes into the day and
   ticks (1/50 s) into the minute. ds_Nanosecond, the nanoseconds into the
   tick, is this host's addition: its file systems keep times to the
   nanosecond, and a tree's times should come back as they were packed. */
struct DateStamp {
    LONG ds_Days;
    LONG ds_Minute;
    LONG ds_Tick;
    LONG ds_Nanosecond;
};

/* MakeLink's kinds: a hard link takes a lock on the object as its
   destination, a soft link the path it holds. */
#define LINK_HARD 0
#define LINK_SOFT 1

#define ST_FILE (-3)
#define ST_USERDIR 2

/* The error codes that IoErr() reports. */
#define ERROR_NO_FREE_STORE 103
#define ERROR_OBJECT_IN_USE 202
#define ERROR_OBJECT_EXISTS 203
#define ERROR_OBJECT_NOT_FOUND 205
#define ERROR_ACTION_NOT_KNOWN 209
#define ERROR_INVALID_COMPONENT_NAME 210
#define ERROR_OBJECT_WRONG_TYPE 212
#define ERROR_DISK_WRITE_PROTECTED 214
#define ERROR_DISK_FULL 221
#define ERROR_WRITE_PROTECTED 223
#define ERROR_READ_PROTECTED 224
#define ERROR_TOO_MANY_LEVELS 217
#define ERROR_IS_SOFT_LINK 233

#endif

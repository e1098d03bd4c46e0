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
   file one below 0. */
struct FileInfoBlock {
    LONG fib_DirEntryType;
};

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

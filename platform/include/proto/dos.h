#ifndef PROTO_DOS_H
#define PROTO_DOS_H

#include <dos/dos.h>
#include <exec/interfaces.h>

struct DOSIFace : Interface {
    BPTR Lock(CONST_STRPTR name, LONG mode);
    void UnLock(BPTR lock);
    BPTR CreateDir(CONST_STRPTR name);
    LONG Examine(BPTR lock, struct FileInfoBlock *info);
    /* What the file system that holds lock offers: DOSFALSE and IoErr()
       when it cannot be learnt. */
    LONG Info(BPTR lock, struct InfoData *info);
    LONG IoErr();
    /* Sets the code that IoErr() reports next. */
    void SetIoErr(LONG code);
    /* Appends filename to the path in dirname (size bytes), with the
       separator the path needs; FALSE, leaving dirname as it was, when the
       result would not fit. */
    BOOL AddPart(STRPTR dirname, CONST_STRPTR filename, ULONG size);
    /* Sets the protection bits (FIBF_*) of the named object; DOSFALSE and
       IoErr() on failure. A file still open for writing from fopen is
       changed through the stream's own descriptor. */
    LONG SetProtection(CONST_STRPTR name, ULONG protect);
    /* Sets the modification time of the named object, a link itself rather
       than what it names; DOSFALSE and IoErr() on failure. A file still
       open for writing from fopen is changed through the stream's own
       descriptor. */
    LONG SetDate(CONST_STRPTR name, const struct DateStamp *date);
    /* Makes name a link: soft (LINK_SOFT), holding the path dest; or hard
       (LINK_HARD), another name for the file that the lock dest holds. A
       regular file or link already at name is replaced; anything else
       there fails with ERROR_OBJECT_EXISTS. DOSFALSE and IoErr() on
       failure. */
    LONG MakeLink(CONST_STRPTR name, APTR dest, LONG soft);
    void Delay(LONG ticks);
};

extern struct Library *DOSBase;
extern struct DOSIFace *IDOS;

#endif

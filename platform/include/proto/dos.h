#ifndef PROTO_DOS_H
#define PROTO_DOS_H

#include <dos/dos.h>
#include <exec/interfaces.h>

struct DOSIFace : Interface {
    BPTR Lock(CONST_STRPTR name, LONG mode);
    void UnLock(BPTR lock);
    BPTR CreateDir(CONST_STRPTR name);
    LONG Examine(BPTR lock, struct FileInfoBlock *info);
    LONG IoErr();
    /* Sets the protection bits (FIBF_*) of the named object; DOSFALSE and
       IoErr() on failure. */
    LONG SetProtection(CONST_STRPTR name, ULONG protect);
    void Delay(LONG ticks);
};

extern struct Library *DOSBase;
extern struct DOSIFace *IDOS;

#endif

#ifndef PROTO_EXEC_H
#define PROTO_EXEC_H

#include <exec/interfaces.h>
#include <utility/tagitem.h>

struct ExecIFace : Interface {
    struct Library *OpenLibrary(CONST_STRPTR name, ULONG version);
    void CloseLibrary(struct Library *library);
    struct Interface *GetInterface(struct Library *library, CONST_STRPTR name, ULONG version,
                                   const struct TagItem *tags);
    void DropInterface(struct Interface *iface);
};

extern struct ExecIFace *IExec;

#endif

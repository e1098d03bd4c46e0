#ifndef EXEC_INTERFACES_H
#define EXEC_INTERFACES_H

#include <exec/libraries.h>

/* The common head of every library interface; each library's interface
   (DOSIFace, IntuitionIFace, ...) extends it with the library's calls. */
struct Interface {
    struct InterfaceData {
        struct Library *LibBase;
        CONST_STRPTR Name;
        ULONG Version;
        ULONG RefCount;
    } Data;
};

#endif

#ifndef EXEC_LIBRARIES_H
#define EXEC_LIBRARIES_H

#include <exec/types.h>

struct Node {
    struct Node *ln_Succ;
    struct Node *ln_Pred;
    CONST_STRPTR ln_Name;
};

/* A library base: what OpenLibrary hands out and CloseLibrary takes back. */
struct Library {
    struct Node lib_Node;
    UWORD lib_Version;
    UWORD lib_Revision;
    UWORD lib_OpenCnt;
};

#endif

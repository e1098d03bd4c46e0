#ifndef PROTO_GADTOOLS_H
#define PROTO_GADTOOLS_H

#include <exec/interfaces.h>

struct GadToolsIFace : Interface {
};

extern struct Library *GadToolsBase;
extern struct GadToolsIFace *IGadTools;

#endif

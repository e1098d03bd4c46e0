#ifndef PROTO_INTUITION_H
#define PROTO_INTUITION_H

#include <exec/interfaces.h>

struct IntuitionIFace : Interface {
};

extern struct Library *IntuitionBase;
extern struct IntuitionIFace *IIntuition;

#endif

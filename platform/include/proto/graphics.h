#ifndef PROTO_GRAPHICS_H
#define PROTO_GRAPHICS_H

#include <exec/interfaces.h>

struct GraphicsIFace : Interface {
};

extern struct Library *GfxBase;
extern struct GraphicsIFace *IGraphics;

#endif

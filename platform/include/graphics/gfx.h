#ifndef GRAPHICS_GFX_H
#define GRAPHICS_GFX_H

#include <exec/types.h>

struct Rectangle {
    WORD MinX, MinY, MaxX, MaxY;
};

/* A bitmap that holds one pen number per pixel, row after row. */
struct BitMap {
    UWORD BytesPerRow;
    UWORD Rows;
    UBYTE Flags;
    UBYTE Depth;
    UBYTE *Pixels;
};

#endif

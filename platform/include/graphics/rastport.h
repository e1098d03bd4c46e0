#ifndef GRAPHICS_RASTPORT_H
#define GRAPHICS_RASTPORT_H

#include <graphics/text.h>

/* Draw modes. */
#define JAM1 0
#define JAM2 1
#define COMPLEMENT 2
#define INVERSVID 4

struct HostWindow;

struct RastPort {
    struct BitMap *BitMap;
    UBYTE FgPen;
    UBYTE BgPen;
    UBYTE DrawMode;
    WORD cp_x, cp_y;
    struct TextFont *Font;
    UWORD TxHeight;
    UWORD TxWidth;
    UWORD TxBaseline;
    /* The window this RastPort draws into; only the host layer reads it. */
    struct HostWindow *Host;
};

#endif

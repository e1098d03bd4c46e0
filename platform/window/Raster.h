#ifndef PLATFORM_RASTER_H
#define PLATFORM_RASTER_H

#include "HostModel.h"

/* Putting drawing into a window's pixels and its list of visible text runs,
   clipped to the window. Call with the model lock held. */

/* A rectangle, both corners included, in the pen or, in COMPLEMENT,
   inverting what is there. */
void FillPixels(HostWindow &window, LONG xMin, LONG yMin, LONG xMax, LONG yMax, UBYTE pen,
                UBYTE mode);

UBYTE GetPixel(const HostWindow &window, LONG x, LONG y);

/* A line between two points, both included, in the pen or, in COMPLEMENT,
   inverting what is there. */
void DrawLinePixels(HostWindow &window, LONG x0, LONG y0, LONG x1, LONG y1, UBYTE pen, UBYTE mode);

/* How a text is drawn: the font's height and baseline, the pens and the
   draw mode of the RastPort it was drawn through. */
struct TextStyle {
    UWORD height;
    UWORD baseline;
    UBYTE foreground;
    UBYTE background;
    UBYTE mode;
};

/* The text's glyphs with their baseline starting at (x, baseline); the
   pixels it takes in width. */
LONG DrawTextPixels(HostWindow &window, LONG x, LONG baseline, const char *text, ULONG count,
                    const TextStyle &style);

#endif

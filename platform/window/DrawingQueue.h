#ifndef PLATFORM_DRAWING_QUEUE_H
#define PLATFORM_DRAWING_QUEUE_H

#include <cstdint>
#include <string>
#include <vector>

#include <exec/types.h>

struct HostWindow;

/* What the program draws through a window's own RastPort is queued, not
   put into pixels at once: nobody looks at most of it. An unpacking run
   redraws the message line and both gauges for every entry, thousands of
   times a second, while a presentation shows a few dozen frames a second
   and a script none.

   The program's thread queues each drawing call; at each text, the end of
   a change a person reads, it hands what it queued to the window, where a
   presentation's thread finds it. What a later opaque fill covers whole is
   dropped from time to time, so that the window's share stays about one
   drawing per part of the window; it is put into pixels when somebody
   reads them, and in any case when it grows past a fixed bound. A
   presentation thus only ever sees the window as it stood after a text:
   never a message line erased and not yet rewritten. */

struct QueuedDrawing {
    enum Kind : UBYTE { FILL, LINE, TEXT };
    Kind kind;
    UBYTE pen;
    UBYTE background; /* TEXT */
    UBYTE mode;
    bool opaque;    /* sets every pixel of its bounds, whatever was there */
    UWORD height;   /* TEXT: the font's */
    UWORD baseline; /* TEXT: the font's */
    /* FILL: the rectangle, both corners included; LINE: from (x0, y0) to
       (x1, y1); TEXT: the start of its baseline (x0, y0). */
    LONG x0, y0, x1, y1;
    /* The pixels it may touch. */
    LONG xMin, yMin, xMax, yMax;
    /* TEXT: where its bytes lie in the list's text. */
    uint32_t textStart, textLength;
    bool covered; /* by a later opaque drawing */
};

struct DrawingList {
    struct Bounds {
        LONG xMin, yMin, xMax, yMax;
    };
    std::vector<QueuedDrawing> drawings;
    std::string text;
    /* Room that dropping covered drawings reuses. */
    std::vector<Bounds> covers;
    std::string spareText;
};

/* From the program's thread. A straight line is queued as the
   one-pixel-wide fill it is. */
void QueueFill(HostWindow &window, LONG xMin, LONG yMin, LONG xMax, LONG yMax, UBYTE pen,
               UBYTE mode);
void QueueLine(HostWindow &window, LONG x0, LONG y0, LONG x1, LONG y1, UBYTE pen, UBYTE mode);
void QueueText(HostWindow &window, LONG x, LONG baseline, const char *text, ULONG count, LONG width,
               UWORD height, UWORD fontBaseline, UBYTE pen, UBYTE background, UBYTE mode);
/* Hands the queued drawing and the last measured text to the window. */
void PublishDrawing(HostWindow &window);
/* Everything drawn so far into pixels, queued or handed over: for those who
   read a window on the program's thread. Takes the model lock. */
void FinishDrawing(HostWindow &window);

/* What was handed over into pixels; call with the model lock held. */
void FlushDrawing(HostWindow &window);

#endif

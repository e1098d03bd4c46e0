#ifndef PROGRESS_PROGRESS_WINDOW_H
#define PROGRESS_PROGRESS_WINDOW_H

#include <proto/gadtools.h>
#include <proto/graphics.h>
#include <proto/intuition.h>

/* The progress window's state, written by InitInterface and CloseInterface
   and read by the gauge and message line drawing. Coordinates are the
   window's, with its borders inside them. */
extern struct Window *window;
extern APTR vis;
extern struct Gadget *glist;
extern struct Gadget *gad;
extern WORD x, y, w, h;
extern WORD gx, gy, gw, gh;
extern UWORD pens[NUMDRIPENS];

/* Draws gauge index (0 the file gauge, 1 the total gauge) at percentage. */
void DrawGauge(int percentage, int index);

/* Shows a request with the given texts and buttons ("Yes|No") over the
   window until it is answered: 1, 2, ... for the buttons from the left, 0
   for the rightmost. */
LONG MessageBox(CONST_STRPTR title, CONST_STRPTR text, CONST_STRPTR buttons);

#endif

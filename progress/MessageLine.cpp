#include "ProgressWindow.h"

#include <string.h>

#include <proto/dos.h>

#include "progress.h"

/* A progress line keeps the end of a long name in view, so it is cut from
   the left; an error line keeps the start of the message, so it is cut from
   the right, and stays three seconds so that it can be read. */
void UpdateMessage(const char *text, int flag)
{
    struct RastPort *rp = window->RPort;
    struct TextExtent extent;
    ULONG length = strlen(text);

    IGraphics->SetAPen(rp, (flag == 1 ? pens[HIGHLIGHTTEXTPEN] : pens[TEXTPEN]) & 0xFF);
    IGraphics->SetDrMd(rp, JAM2);
    IGraphics->EraseRect(rp, gx, window->BorderTop, gx + gw, window->BorderTop + rp->TxHeight + 4);
    IGraphics->Move(rp, gx, window->BorderTop + rp->TxHeight);
    if (flag == 1) {
        ULONG fitting = IGraphics->TextFit(rp, text, length, &extent, NULL, 1, gw, gh);
        IGraphics->Text(rp, text, fitting);
        IDOS->Delay(150);
    } else {
        /* Measured backwards from the last character; an empty text has none. */
        const char *last = length > 0 ? text + length - 1 : text;
        ULONG fitting = IGraphics->TextFit(rp, last, length, &extent, NULL, -1, gw, gh);
        IGraphics->Text(rp, text + length - fitting, fitting);
    }
}

#include "../system/HostLibraries.h"
#include "DrawingQueue.h"
#include "Font.h"
#include "HostModel.h"
#include "Presentation.h"
#include "TextLayout.h"

/* graphics.library on the windows' pixel buffers. Coordinates are those of
   the window, origin at its outer top-left corner; drawing outside the
   window is clipped away. Rectangles and lines include both end points.

   A RastPort and the drawing through it belong to the program's task: the
   pens, mode and position are its own, and what it draws is queued for the
   window (DrawingQueue.h) until a text completes it. */

struct GraphicsIFace hostGraphicsInterface;

void GraphicsIFace::SetAPen(struct RastPort *rp, ULONG pen)
{
    rp->FgPen = UBYTE(pen);
}

void GraphicsIFace::SetDrMd(struct RastPort *rp, ULONG mode)
{
    rp->DrawMode = UBYTE(mode);
}

void GraphicsIFace::Move(struct RastPort *rp, LONG x, LONG y)
{
    rp->cp_x = WORD(x);
    rp->cp_y = WORD(y);
}

void GraphicsIFace::Draw(struct RastPort *rp, LONG x, LONG y)
{
    QueueLine(*rp->Host, rp->cp_x, rp->cp_y, x, y, rp->FgPen, rp->DrawMode);
    rp->cp_x = WORD(x);
    rp->cp_y = WORD(y);
}

void GraphicsIFace::RectFill(struct RastPort *rp, LONG xMin, LONG yMin, LONG xMax, LONG yMax)
{
    QueueFill(*rp->Host, xMin, yMin, xMax, yMax, rp->FgPen, rp->DrawMode);
}

void GraphicsIFace::EraseRect(struct RastPort *rp, LONG xMin, LONG yMin, LONG xMax, LONG yMax)
{
    QueueFill(*rp->Host, xMin, yMin, xMax, yMax, 0, JAM1);
}

void GraphicsIFace::Text(struct RastPort *rp, CONST_STRPTR text, ULONG count)
{
    HostWindow &window = *rp->Host;
    LONG width = LONG(MeasureTextCells(text, count)) * FONT_WIDTH;
    if (count > 0)
        QueueText(window, rp->cp_x, rp->cp_y, text, count, width, rp->TxHeight, rp->TxBaseline,
                  rp->FgPen, rp->BgPen, rp->DrawMode);
    rp->cp_x = WORD(rp->cp_x + width);
    /* A text is what completes a change that a person reads (a message, a
       gauge's label): the moment to hand it over and let the presentation
       show it. */
    PublishDrawing(window);
    GetPresentation().Drawn();
}

/* As many whole characters as fit the width limit, from the chosen end; an
   escaped byte counts as the four cells it is drawn in. The count and the
   result are in bytes, as the text is. */
ULONG GraphicsIFace::TextFit(struct RastPort *rp, CONST_STRPTR text, ULONG count,
                             struct TextExtent *extent, const struct TextExtent *, LONG direction,
                             ULONG widthLimit, ULONG heightLimit)
{
    const char *first = direction < 0 && count > 0 ? text - (count - 1) : text;
    ULONG fitting = 0, cells = 0;
    if (rp->TxHeight <= heightLimit) {
        /* Most texts fit whole: measured once, with no cut to look for. */
        ULONG maxCells = widthLimit / FONT_WIDTH, whole = MeasureTextCells(first, count);
        if (whole <= maxCells) {
            fitting = count;
            cells = whole;
        } else {
            fitting = ULONG(FitTextBytes(first, count, direction < 0, maxCells));
            cells = direction < 0 ? MeasureTextCells(first + (count - fitting), fitting)
                                  : MeasureTextCells(first, fitting);
        }
    }
    HostWindow &window = *rp->Host;
    window.measuredText.assign(first, count);
    window.measuredFromEnd = direction < 0;
    window.measuredChanged = true;
    if (extent != nullptr) {
        extent->te_Width = UWORD(cells * FONT_WIDTH);
        extent->te_Height = rp->TxHeight;
        extent->te_Extent = {0, WORD(-rp->TxBaseline), WORD(cells * FONT_WIDTH - 1),
                             WORD(rp->TxHeight - 1 - rp->TxBaseline)};
    }
    return fitting;
}

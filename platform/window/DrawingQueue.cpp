#include "DrawingQueue.h"

#include "HostModel.h"
#include "Raster.h"

#include <algorithm>
#include <mutex>

namespace
{

/* Past this many drawings handed over and not yet shown, what is covered
   is dropped, and if many remain they are put into pixels on the program's
   thread: a fixed bound on the work and memory kept for a window that no
   presentation reads. */
const size_t publishedLimit = 256;

/* Drops what a later opaque drawing covers whole: it can no longer be
   seen, neither its pixels nor its text runs, which a drawing over them
   forgets. */
void DropCoveredDrawing(DrawingList &list, const HostWindow &window)
{
    std::vector<QueuedDrawing> &drawings = list.drawings;
    /* The bounds of the opaque drawings met so far, walking back from the
       latest; one that an earlier-met one covers adds nothing. The window
       has few parts, so this stays short. The program draws them in the
       same order each time, so the cover of one drawing is most often the
       one after the cover of the drawing met before it: the search starts
       there. */
    std::vector<DrawingList::Bounds> &covers = list.covers;
    covers.clear();
    size_t lastHit = 0;
    for (size_t i = drawings.size(); i-- > 0;) {
        QueuedDrawing &drawing = drawings[i];
        size_t count = covers.size();
        for (size_t k = 0, at = lastHit; k < count; k++, at = at + 1 == count ? 0 : at + 1) {
            const DrawingList::Bounds &cover = covers[at];
            if (drawing.xMin >= cover.xMin && drawing.yMin >= cover.yMin &&
                drawing.xMax <= cover.xMax && drawing.yMax <= cover.yMax) {
                drawing.covered = true;
                lastHit = at;
                break;
            }
        }
        if (!drawing.opaque || drawing.covered)
            continue;
        /* A fill sets, and forgets the text runs under, only what of it
           lies inside the window. */
        DrawingList::Bounds inside = {std::max<LONG>(drawing.xMin, 0),
                                      std::max<LONG>(drawing.yMin, 0),
                                      std::min<LONG>(drawing.xMax, window.Width - 1),
                                      std::min<LONG>(drawing.yMax, window.Height - 1)};
        if (inside.xMin <= inside.xMax && inside.yMin <= inside.yMax)
            covers.push_back(inside);
    }
    std::string &text = list.spareText;
    text.clear();
    size_t kept = 0;
    for (size_t i = 0; i < drawings.size(); i++) {
        if (drawings[i].covered)
            continue;
        if (kept != i)
            drawings[kept] = drawings[i];
        QueuedDrawing &drawing = drawings[kept++];
        if (drawing.kind == QueuedDrawing::TEXT) {
            text.append(list.text, drawing.textStart, drawing.textLength);
            drawing.textStart = uint32_t(text.size() - drawing.textLength);
        }
    }
    drawings.resize(kept);
    list.text.swap(text);
}

void Draw(HostWindow &window, const QueuedDrawing &drawing, const std::string &text)
{
    switch (drawing.kind) {
    case QueuedDrawing::FILL:
        FillPixels(window, drawing.x0, drawing.y0, drawing.x1, drawing.y1, drawing.pen,
                   drawing.mode);
        break;
    case QueuedDrawing::LINE:
        DrawLinePixels(window, drawing.x0, drawing.y0, drawing.x1, drawing.y1, drawing.pen,
                       drawing.mode);
        break;
    case QueuedDrawing::TEXT:
        DrawTextPixels(
            window, drawing.x0, drawing.y0, text.data() + drawing.textStart,
            ULONG(drawing.textLength),
            {drawing.height, drawing.baseline, drawing.pen, drawing.background, drawing.mode});
        break;
    }
}

} // namespace

void QueueFill(HostWindow &window, LONG xMin, LONG yMin, LONG xMax, LONG yMax, UBYTE pen,
               UBYTE mode)
{
    bool opaque = !(mode & COMPLEMENT);
    window.queued.drawings.push_back({QueuedDrawing::FILL, pen, 0, mode, opaque, 0, 0, xMin, yMin,
                                      xMax, yMax, xMin, yMin, xMax, yMax, 0, 0, false});
}

void QueueLine(HostWindow &window, LONG x0, LONG y0, LONG x1, LONG y1, UBYTE pen, UBYTE mode)
{
    if (x0 == x1 || y0 == y1) {
        QueueFill(window, std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1),
                  pen, mode);
        return;
    }
    window.queued.drawings.push_back({QueuedDrawing::LINE, pen, 0, mode, false, 0, 0, x0, y0, x1,
                                      y1, std::min(x0, x1), std::min(y0, y1), std::max(x0, x1),
                                      std::max(y0, y1), 0, 0, false});
}

void QueueText(HostWindow &window, LONG x, LONG baseline, const char *text, ULONG count, LONG width,
               UWORD height, UWORD fontBaseline, UBYTE pen, UBYTE background, UBYTE mode)
{
    DrawingList &queued = window.queued;
    LONG top = baseline - fontBaseline;
    queued.drawings.push_back({QueuedDrawing::TEXT, pen, background, mode, false, height,
                               fontBaseline, x, baseline, 0, 0, x, top, x + width - 1,
                               top + height - 1, uint32_t(queued.text.size()), count, false});
    queued.text.append(text, count);
}

void PublishDrawing(HostWindow &window)
{
    DrawingList &queued = window.queued, &published = window.published;
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    uint32_t textBase = uint32_t(published.text.size());
    size_t first = published.drawings.size();
    published.drawings.insert(published.drawings.end(), queued.drawings.begin(),
                              queued.drawings.end());
    for (size_t i = first; i < published.drawings.size(); i++)
        published.drawings[i].textStart += textBase;
    published.text += queued.text;
    queued.drawings.clear();
    queued.text.clear();
    if (window.measuredChanged) {
        window.laidOutText.swap(window.measuredText);
        window.laidOutFromEnd = window.measuredFromEnd;
        window.measuredChanged = false;
    }
    if (published.drawings.size() > publishedLimit) {
        DropCoveredDrawing(published, window);
        if (published.drawings.size() > publishedLimit / 2)
            FlushDrawing(window);
    }
}

void FlushDrawing(HostWindow &window)
{
    DrawingList &published = window.published;
    DropCoveredDrawing(published, window);
    for (const QueuedDrawing &drawing : published.drawings)
        Draw(window, drawing, published.text);
    published.drawings.clear();
    published.text.clear();
}

void FinishDrawing(HostWindow &window)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    PublishDrawing(window);
    FlushDrawing(window);
}

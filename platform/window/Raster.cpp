#include "Raster.h"

#include "Font.h"
#include "TextLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace
{

UBYTE PenMask(const HostWindow &window)
{
    return UBYTE((1u << window.screen->depth) - 1);
}

void PlotPixel(HostWindow &window, LONG x, LONG y, UBYTE pen, UBYTE mode)
{
    if (x < 0 || y < 0 || x >= window.Width || y >= window.Height)
        return;
    UBYTE &pixel = window.pixels[size_t(y) * window.Width + x];
    pixel = (mode & COMPLEMENT) ? UBYTE(pixel ^ PenMask(window)) : UBYTE(pen & PenMask(window));
}

/* How a glyph's pixels are drawn: set pixels in the foreground pen (or
   inverted, in COMPLEMENT), clear ones in the background pen in JAM2 and
   left alone otherwise. */
struct GlyphPens {
    UBYTE mask;
    UBYTE foreground;
    UBYTE background;
    UBYTE mode;
};

void DrawGlyphPixel(UBYTE &pixel, bool set, const GlyphPens &pens)
{
    if (set && (pens.mode & COMPLEMENT))
        pixel ^= pens.mask;
    else if (set)
        pixel = pens.foreground;
    else if (pens.mode == JAM2)
        pixel = pens.background;
}

/* One row of a glyph, eight pixels at once: a text is drawn for every
   message and every gauge label, once per piece written. */
struct SpreadBits {
    /* For each row of glyph bits, eight bytes: 0xFF under a set bit. */
    uint64_t patterns[256];
    SpreadBits()
    {
        for (int bits = 0; bits < 256; bits++) {
            unsigned char spread[FONT_WIDTH];
            for (int column = 0; column < FONT_WIDTH; column++)
                spread[column] = bits & (0x80 >> column) ? 0xFF : 0x00;
            std::memcpy(&patterns[bits], spread, sizeof patterns[bits]);
        }
    }
};
const SpreadBits spreadBits;

/* One row of a run of cells, each eight pixels at once; glyphRow -1 is a
   row above the font's glyphs, with no pixel set. JAM1 and COMPLEMENT leave
   the pixels under a blank glyph row (a space) as they are. */
void DrawWholeCells(UBYTE *pixels, const unsigned char *const *glyphs, ULONG cells, LONG glyphRow,
                    const GlyphPens &pens)
{
    static_assert(FONT_WIDTH == sizeof(uint64_t), "a glyph row is eight pixels");
    const uint64_t everyByte = 0x0101010101010101ULL;
    if (pens.mode == JAM2) {
        const uint64_t foreground = pens.foreground * everyByte;
        const uint64_t background = pens.background * everyByte;
        for (ULONG i = 0; i < cells; i++, pixels += FONT_WIDTH) {
            uint64_t set = glyphRow >= 0 ? spreadBits.patterns[glyphs[i][glyphRow]] : 0;
            uint64_t current = (set & foreground) | (~set & background);
            std::memcpy(pixels, &current, sizeof current);
        }
        return;
    }
    if (glyphRow < 0)
        return;
    const bool complement = pens.mode & COMPLEMENT;
    const uint64_t colour = (complement ? pens.mask : pens.foreground) * everyByte;
    for (ULONG i = 0; i < cells; i++, pixels += FONT_WIDTH) {
        unsigned char bits = glyphs[i][glyphRow];
        if (bits == 0)
            continue;
        uint64_t set = spreadBits.patterns[bits], current;
        std::memcpy(&current, pixels, sizeof current);
        current = complement ? current ^ (set & colour) : (current & ~set) | (set & colour);
        std::memcpy(pixels, &current, sizeof current);
    }
}

/* The glyph of each cell of a text, as many as room holds; the result is
   the number of cells the whole text takes. */
ULONG ListGlyphs(const char *text, ULONG count, const unsigned char **glyphs, ULONG room)
{
    ULONG cell = 0;
    for (ULONG i = 0; i < count;) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (cell < room)
                glyphs[cell] = fontGlyphs[byte];
            cell++;
            i++;
            continue;
        }
        TextPiece piece = ReadTextPiece(text + i, count - i);
        for (unsigned shown = 0; shown < piece.cells; shown++, cell++)
            if (cell < room)
                glyphs[cell] = GetCharacterGlyph(piece.shown[shown]);
        i += ULONG(piece.length);
    }
    return cell;
}

/* Text runs under a freshly drawn area are gone. */
void ForgetTextIn(HostWindow &window, LONG xMin, LONG yMin, LONG xMax, LONG yMax)
{
    UWORD height = window.rastPort.TxHeight, baseline = window.rastPort.TxBaseline;
    auto covered = [&](const TextRun &run) {
        LONG left = run.x, right = run.x + run.width - 1;
        LONG top = run.baseline - baseline, bottom = top + height - 1;
        return left <= xMax && right >= xMin && top <= yMax && bottom >= yMin;
    };
    window.texts.erase(std::remove_if(window.texts.begin(), window.texts.end(), covered),
                       window.texts.end());
}

} // namespace

void FillPixels(HostWindow &window, LONG xMin, LONG yMin, LONG xMax, LONG yMax, UBYTE pen,
                UBYTE mode)
{
    xMin = std::max<LONG>(xMin, 0);
    yMin = std::max<LONG>(yMin, 0);
    xMax = std::min<LONG>(xMax, window.Width - 1);
    yMax = std::min<LONG>(yMax, window.Height - 1);
    if (xMin > xMax || yMin > yMax)
        return;
    ForgetTextIn(window, xMin, yMin, xMax, yMax);
    UBYTE mask = PenMask(window);
    size_t width = size_t(xMax - xMin + 1);
    for (LONG y = yMin; y <= yMax; y++) {
        UBYTE *row = window.pixels.data() + size_t(y) * window.Width + xMin;
        if (mode & COMPLEMENT)
            for (size_t i = 0; i < width; i++)
                row[i] ^= mask;
        else if (width == 1)
            *row = UBYTE(pen & mask); /* a frame's side: no call per pixel */
        else
            std::memset(row, pen & mask, width);
    }
    window.dirty = true;
}

UBYTE GetPixel(const HostWindow &window, LONG x, LONG y)
{
    return window.pixels[size_t(y) * window.Width + x];
}

void DrawLinePixels(HostWindow &window, LONG x0, LONG y0, LONG x1, LONG y1, UBYTE pen, UBYTE mode)
{
    /* The frames of gauges and buttons are straight lines: drawn as the
       one-pixel-wide rectangles they are. */
    if (x0 == x1 || y0 == y1) {
        FillPixels(window, std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1),
                   pen, mode);
        return;
    }
    LONG xMin = std::min(x0, x1), yMin = std::min(y0, y1);
    LONG xMax = std::max(x0, x1), yMax = std::max(y0, y1);
    LONG dx = x1 > x0 ? x1 - x0 : x0 - x1, dy = y1 > y0 ? y0 - y1 : y1 - y0;
    LONG stepX = x0 < x1 ? 1 : -1, stepY = y0 < y1 ? 1 : -1;
    LONG error = dx + dy;
    for (;;) {
        PlotPixel(window, x0, y0, pen, mode);
        if (x0 == x1 && y0 == y1)
            break;
        LONG twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y0 += stepY;
        }
    }
    ForgetTextIn(window, xMin, yMin, xMax, yMax);
    window.dirty = true;
}

LONG DrawTextPixels(HostWindow &window, LONG left, LONG baseline, const char *text, ULONG count,
                    const TextStyle &style)
{
    /* The glyph of each cell; room on the stack for the usual texts, which
       are a gauge's label or a line of the window's width. */
    const unsigned char *stackGlyphs[256];
    std::vector<const unsigned char *> heapGlyphs;
    const unsigned char **glyphs = stackGlyphs;
    ULONG cells = ListGlyphs(text, count, stackGlyphs, std::size(stackGlyphs));
    if (cells > std::size(stackGlyphs)) {
        heapGlyphs.resize(cells);
        glyphs = heapGlyphs.data();
        ListGlyphs(text, count, glyphs, cells);
    }
    LONG width = LONG(cells) * FONT_WIDTH;
    LONG top = baseline - style.baseline;
    /* Glyphs stand on the baseline: a taller font has its extra rows above. */
    LONG glyphTop = top + style.height - FONT_ROWS;
    ForgetTextIn(window, left, top, left + width - 1, top + style.height - 1);
    UBYTE mask = PenMask(window);
    GlyphPens pens = {mask, UBYTE(style.foreground & mask), UBYTE(style.background & mask),
                      style.mode};
    /* The cells wholly inside the window, drawn eight pixels at a time; a
       cell cut by an edge is drawn pixel by pixel. */
    ULONG firstWhole = 0;
    while (firstWhole < cells && left + LONG(firstWhole) * FONT_WIDTH < 0)
        firstWhole++;
    ULONG endWhole = firstWhole;
    while (endWhole < cells && left + LONG(endWhole + 1) * FONT_WIDTH <= window.Width)
        endWhole++;
    LONG bottom = std::min<LONG>(top + style.height, window.Height);
    for (LONG y = std::max<LONG>(top, 0); y < bottom; y++) {
        UBYTE *row = window.pixels.data() + size_t(y) * window.Width;
        LONG glyphRow = y - glyphTop;
        bool inFont = glyphRow >= 0 && glyphRow < FONT_ROWS;
        if (endWhole > firstWhole)
            DrawWholeCells(row + left + LONG(firstWhole) * FONT_WIDTH, glyphs + firstWhole,
                           endWhole - firstWhole, inFont ? glyphRow : -1, pens);
        for (ULONG i = 0; i < cells; i++) {
            if (i == firstWhole)
                i = endWhole;
            if (i >= cells)
                break;
            LONG x = left + LONG(i) * FONT_WIDTH;
            unsigned char bits = inFont ? glyphs[i][glyphRow] : 0;
            for (LONG column = 0; column < FONT_WIDTH; column++)
                if (x + column >= 0 && x + column < window.Width)
                    DrawGlyphPixel(row[x + column], bits & (0x80u >> column), pens);
        }
    }
    if (count > 0)
        window.texts.push_back({WORD(left), WORD(baseline), std::string(text, count), width});
    window.dirty = true;
    return width;
}

#ifndef PLATFORM_TERMINAL_BOX_CELLS_H
#define PLATFORM_TERMINAL_BOX_CELLS_H

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../window/Font.h"
#include "BoxGlyphs.h"
#include "BoxRendering.h"
#include "DisplayText.h"

/* One cell of a box's line: what a slice of a band of the window's pixels
   shows. */
struct Cell {
    /* Shows blank, in the colours it had. */
    void Clear()
    {
        text.assign(1, ' ');
        width = 1;
        edge = false;
        foreground = -1;
    }

    std::string text = " ";
    int width = 1; /* 0 for the second column of a wide character */
    int foreground = -1;
    int background = -1;
    bool edge = false;
    bool filled = false;
    bool lettered = false; /* holds a character of a text */
    int dominant = 0;      /* the pens that cover the cell most and next most */
    int second = -1;
};

/* How the inner area's pixel columns fall into cells: 8 pixels each where
   the inner area has as many cells as there are columns; otherwise spread
   evenly over the columns there are (the compact form), or, in a box, 8
   pixels for the first and the last and the rest spread evenly between
   them, so that frames along the window's sides stay in the box's first
   and last columns however wide the box is drawn. */
struct CellColumns {
    enum Spread { EIGHT_PIXELS, EVEN, EVEN_BETWEEN_ENDS };

    LONG left;
    LONG width;
    size_t count;
    Spread spread;

    /* The first pixel column of a cell, or the end of the last at count. */
    LONG Boundary(size_t column) const
    {
        LONG c = LONG(column), n = LONG(count);
        switch (spread) {
        case EIGHT_PIXELS:
            return std::min(left + c * FONT_WIDTH, left + width);
        case EVEN:
            return left + c * width / n;
        case EVEN_BETWEEN_ENDS:
            break;
        }
        if (c == 0 || c == n)
            return left + (c == 0 ? 0 : width);
        return left + FONT_WIDTH + (c - 1) * (width - 2 * FONT_WIDTH) / (n - 2);
    }
    LONG Left(size_t column) const { return Boundary(column); }
    LONG Right(size_t column) const { return std::max(Boundary(column + 1) - 1, Left(column)); }
    /* The boundary nearest pixel column x: where a text drawn there starts. */
    LONG At(LONG x) const
    {
        if (spread == EIGHT_PIXELS)
            return (x - left + FONT_WIDTH / 2) / FONT_WIDTH;
        if (spread == EVEN)
            return ((x - left) * LONG(count) + width / 2) / width;
        if (x <= left)
            return (x - left - FONT_WIDTH / 2) / FONT_WIDTH;
        size_t nearest = 0;
        for (size_t c = 1; c <= count; c++)
            if (std::abs(Boundary(c) - x) < std::abs(Boundary(nearest) - x))
                nearest = c;
        return x >= left + width ? LONG(count) + (x - left - width) / FONT_WIDTH : LONG(nearest);
    }
    /* The cell that holds pixel column x. */
    LONG Holding(LONG x) const
    {
        if (spread == EIGHT_PIXELS)
            return (x - left) / FONT_WIDTH;
        if (spread == EVEN)
            return (x - left) * LONG(count) / width;
        if (x < left)
            return (x - left - FONT_WIDTH + 1) / FONT_WIDTH;
        size_t column = 0;
        while (column + 1 < count && Boundary(column + 1) <= x)
            column++;
        return x >= left + width ? LONG(count) + (x - left - width) / FONT_WIDTH : LONG(column);
    }
};

/* The cell over the window's pixels from (left, top) to (right, bottom):
   the colour that fills most of it, an edge, or blank. */
Cell ReadCell(const HostWindow &window, const BoxGlyphs &glyphs, LONG left, LONG top, LONG right,
              LONG bottom);

/* A text run belongs to the band that holds the middle of its line. */
bool IsRunInBand(const HostWindow &window, const TextRun &run, LONG top, LONG bottom);

/* Places a text's characters over the cells. Its glyphs cover the cells
   it was drawn on: those show the text's characters, or, where the text is
   blank, what lies beneath (a bar stays a bar) but never a glyph's stroke
   read as an edge. A character that does not fit whole is left out. */
void PlaceText(std::vector<Cell> &row, const CellColumns &columns, const HostWindow &window,
               const BoxGlyphs &glyphs, const TextRun &run,
               const std::vector<DisplayCharacter> &characters, bool keepStart);

/* Whether a run shows the text that TextFit cut to the window's line: the
   window's top line of text (the message line), whatever the texts under
   it hold. */
bool IsLaidOut(const ShownWindow &shown, const TextRun &run);

#endif

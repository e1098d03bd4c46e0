#ifndef PLATFORM_TEXT_LAYOUT_H
#define PLATFORM_TEXT_LAYOUT_H

#include <cstddef>

#include <exec/types.h>

/* How the windows' texts are laid out in the font's cells. Texts are bytes;
   a printable character (ASCII, or well-formed UTF-8) takes one cell and is
   drawn with the font's glyph where the font has one, with a replacement
   mark elsewhere. Any other byte (a control byte, a byte of malformed
   UTF-8) takes the four cells of its escape \xNN, as EscapeText shows it.
   Texts are measured and cut by these pieces, never inside one. */

struct TextPiece {
    size_t length;          /* bytes of the text it stands for */
    unsigned cells;         /* 1, or 4 for an escaped byte */
    unsigned long shown[4]; /* the character drawn in each cell */
};

/* The piece at the start of text; available is at least 1. */
TextPiece ReadTextPiece(const char *text, size_t available);

/* The cells that count bytes of text take. */
ULONG MeasureTextCells(const char *text, size_t count);

/* How many bytes of whole pieces, taken from the start of the count bytes
   of text (or from their end), fit in maxCells cells. */
size_t FitTextBytes(const char *text, size_t count, bool fromEnd, ULONG maxCells);

#endif

#include "TextLayout.h"

#include <vector>

#include <text/escape.h>

TextPiece ReadTextPiece(const char *text, size_t available)
{
    static const char hex[] = "0123456789abcdef";
    TextPiece piece = {};
    unsigned long character;
    piece.length = ReadPrintableCharacter(text, available, &character);
    if (piece.length > 0) {
        piece.cells = 1;
        piece.shown[0] = character;
        return piece;
    }
    unsigned char byte = static_cast<unsigned char>(text[0]);
    piece.length = 1;
    piece.cells = 4;
    piece.shown[0] = '\\';
    piece.shown[1] = 'x';
    piece.shown[2] = static_cast<unsigned char>(hex[byte >> 4]);
    piece.shown[3] = static_cast<unsigned char>(hex[byte & 0x0F]);
    return piece;
}

ULONG MeasureTextCells(const char *text, size_t count)
{
    ULONG cells = 0;
    for (size_t i = 0; i < count;) {
        TextPiece piece = ReadTextPiece(text + i, count - i);
        cells += piece.cells;
        i += piece.length;
    }
    return cells;
}

size_t FitTextBytes(const char *text, size_t count, bool fromEnd, ULONG maxCells)
{
    size_t bytes = 0;
    ULONG cells = 0;
    if (!fromEnd) {
        while (bytes < count) {
            TextPiece piece = ReadTextPiece(text + bytes, count - bytes);
            if (cells + piece.cells > maxCells)
                break;
            cells += piece.cells;
            bytes += piece.length;
        }
        return bytes;
    }
    /* The pieces are found from the start of the text, where a character's
       bytes begin; then taken from the end. */
    std::vector<TextPiece> pieces;
    for (size_t i = 0; i < count; i += pieces.back().length)
        pieces.push_back(ReadTextPiece(text + i, count - i));
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        if (cells + piece->cells > maxCells)
            break;
        cells += piece->cells;
        bytes += piece->length;
    }
    return bytes;
}

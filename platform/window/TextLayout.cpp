#include "TextLayout.h"

#include <cstdint>
#include <cstring>

#include <vector>

#include <text/escape.h>

namespace
{

/* Most texts are plain ASCII: those bytes are one cell each. */
inline bool IsPlainCharacter(char byte)
{
    return byte >= 0x20 && byte < 0x7F;
}

inline unsigned MeasurePiece(const char *text, size_t available, size_t &length)
{
    if (IsPlainCharacter(text[0])) {
        length = 1;
        return 1;
    }
    TextPiece piece = ReadTextPiece(text, available);
    length = piece.length;
    return piece.cells;
}

} // namespace

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
    /* Most texts are plain ASCII: a cell a byte, eight bytes looked at
       together while no byte is below 0x20 or above 0x7E. */
    const uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    size_t i = 0;
    for (uint64_t v; i + 8 <= count; i += 8) {
        std::memcpy(&v, text + i, 8);
        if (((v - 0x20 * ones) | (v + ones) | v) & highs)
            break;
    }
    while (i < count && IsPlainCharacter(text[i]))
        i++;
    ULONG cells = ULONG(i);
    for (size_t length; i < count; i += length)
        cells += MeasurePiece(text + i, count - i, length);
    return cells;
}

size_t FitTextBytes(const char *text, size_t count, bool fromEnd, ULONG maxCells)
{
    size_t bytes = 0, length;
    if (!fromEnd) {
        for (ULONG cells = 0; bytes < count; bytes += length) {
            unsigned piece = MeasurePiece(text + bytes, count - bytes, length);
            if (cells + piece > maxCells)
                break;
            cells += piece;
        }
        return bytes;
    }
    /* Pieces are found from the start of the text, where a character's
       bytes begin: skip pieces from the start until the rest fits. */
    ULONG rest = MeasureTextCells(text, count);
    while (rest > maxCells) {
        rest -= MeasurePiece(text + bytes, count - bytes, length);
        bytes += length;
    }
    return count - bytes;
}

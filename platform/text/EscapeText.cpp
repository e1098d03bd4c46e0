#include <text/escape.h>

#include <string.h>

size_t ReadPrintableCharacter(const char *text, size_t available, unsigned long *codePoint)
{
    const unsigned char *bytes = (const unsigned char *)text;
    size_t length;
    unsigned long value;
    if (available == 0)
        return 0;
    unsigned char lead = bytes[0];
    if (lead >= 0x20 && lead < 0x7F) {
        *codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (length > available)
        return 0;
    for (size_t i = 1; i < length; i++) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (bytes[i] & 0x3F);
    }
    /* Not overlong, not a C1 control, not a surrogate, within Unicode. */
    static const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || value < 0xA0 ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    /* Nor a character that reorders or hides the text around it: the
       bidirectional embeddings, overrides and isolates, the zero-width
       spaces and joiners, the directional marks, the word joiner and the
       byte order mark. A name could otherwise show as another
       ("bin/\u202Eexe.txt" as "bin/txt.exe"). */
    if ((value >= 0x200B && value <= 0x200F) || (value >= 0x202A && value <= 0x202E) ||
        value == 0x2060 || (value >= 0x2066 && value <= 0x2069) || value == 0xFEFF)
        return 0;
    *codePoint = value;
    return length;
}

void EscapeText(const char *text, size_t length, char *out, size_t outSize, int backslash)
{
    static const char hex[] = "0123456789abcdef";
    const unsigned char *bytes = (const unsigned char *)text;
    const char *end = (const char *)memchr(text, '\0', length);
    size_t count = end != NULL ? (size_t)(end - text) : length;
    size_t used = 0;
    if (outSize == 0)
        return;
    for (size_t i = 0; i < count;) {
        char piece[4];
        size_t pieceLength;
        unsigned long codePoint;
        size_t utf8Length =
            bytes[i] >= 0x80 ? ReadPrintableCharacter(text + i, count - i, &codePoint) : 0;
        if (utf8Length > 0) {
            if (used + utf8Length >= outSize)
                break;
            memcpy(out + used, text + i, utf8Length);
            used += utf8Length;
            i += utf8Length;
            continue;
        }
        if (bytes[i] == '\\' && backslash == ESCAPE_BACKSLASH) {
            piece[0] = piece[1] = '\\';
            pieceLength = 2;
        } else if (bytes[i] < 0x20 || bytes[i] >= 0x7F) {
            piece[0] = '\\';
            piece[1] = 'x';
            piece[2] = hex[bytes[i] >> 4];
            piece[3] = hex[bytes[i] & 0x0F];
            pieceLength = 4;
        } else {
            piece[0] = (char)bytes[i];
            pieceLength = 1;
        }
        if (used + pieceLength >= outSize)
            break;
        memcpy(out + used, piece, pieceLength);
        used += pieceLength;
        i++;
    }
    out[used] = '\0';
}

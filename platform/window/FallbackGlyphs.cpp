#include "Font.h"

#include <array>
#include <bitset>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* Glyphs for characters beyond Latin-1, from GNU Unifont's hex file where
   it is installed: one line per character, "XXXX:" and the glyph's rows in
   hex, sorted by code point. Its 8 × 16 glyphs (alphabets) are folded to the
   screens' 8 rows; its 16 × 16 glyphs (ideographs and the like) cannot be
   read at that height, nor in one cell, and are left to the replacement
   mark. The file is searched where it lies,
   a character at a time, so that it costs no memory beyond the characters
   met. */

namespace
{

const char fontPath[] = "/usr/share/unifont/unifont.hex";

/* The rows of Unifont's 16 folded into each of ours: accents and the top
   of capitals, the body in pairs and single rows so that strokes keep their
   gaps, the descenders. */
const unsigned char foldedRows[FONT_ROWS][2] = {{2, 4},  {5, 5},   {6, 7},   {8, 8},
                                                {9, 10}, {11, 11}, {12, 13}, {14, 15}};

/* The file covers the Basic Multilingual Plane. */
const unsigned long planeSize = 0x10000;

using Rows = std::array<unsigned char, FONT_ROWS>;

std::mutex lock;
int font = -2; /* -2: not opened yet; -1: not there */
off_t fontSize;
/* What was looked up, and the glyphs found (7,000 at most): a character
   is looked up once, and its glyph stays where it is for the run. */
std::bitset<planeSize> lookedUp;
std::map<unsigned long, Rows> found;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

/* The code point of the line at text, or -1. */
long ReadCodePoint(const std::string &text, size_t at)
{
    long value = 0;
    size_t i = at;
    for (; i < text.size() && text[i] != ':'; i++) {
        int digit = HexValue(text[i]);
        if (digit < 0 || i - at >= 6)
            return -1;
        value = value * 16 + digit;
    }
    return i < text.size() && i > at ? value : -1;
}

std::string ReadAt(off_t offset, size_t size)
{
    std::string text(size, '\0');
    ssize_t got = pread(font, text.data(), size, offset);
    text.resize(got > 0 ? size_t(got) : 0);
    return text;
}

/* The start of the first line that begins after offset, or fontSize. */
off_t FindLineAfter(off_t offset)
{
    std::string text = ReadAt(offset, 160);
    size_t end = text.find('\n');
    return end == std::string::npos ? fontSize : offset + off_t(end) + 1;
}

/* Folds a narrow glyph's 16 rows of two hex digits into the screens' rows. */
bool FoldGlyph(const std::string &hex, Rows &rows)
{
    if (hex.size() != 32)
        return false;
    unsigned char source[16];
    for (int row = 0; row < 16; row++) {
        int high = HexValue(hex[row * 2]), low = HexValue(hex[row * 2 + 1]);
        if (high < 0 || low < 0)
            return false;
        source[row] = (unsigned char)(high << 4 | low);
    }
    for (int row = 0; row < FONT_ROWS; row++) {
        rows[row] = 0;
        for (int from = foldedRows[row][0]; from <= foldedRows[row][1]; from++)
            rows[row] |= source[from];
    }
    return true;
}

/* Whether the file has a narrow glyph for the character, folded into rows. */
bool LookUp(unsigned long character, Rows &rows)
{
    /* A binary search over the lines, down to a stretch small enough to
       read whole. */
    off_t low = 0, high = fontSize;
    while (high - low > 4096) {
        off_t line = FindLineAfter(low + (high - low) / 2);
        long point = line < high ? ReadCodePoint(ReadAt(line, 8), 0) : -1;
        if (point < 0 || (unsigned long)point > character)
            high = line;
        else
            low = line;
    }
    std::string stretch = ReadAt(low, size_t(high - low) + 160);
    for (size_t at = 0; at < stretch.size();) {
        size_t end = stretch.find('\n', at);
        if (end == std::string::npos)
            break;
        if (ReadCodePoint(stretch, at) == long(character)) {
            size_t colon = stretch.find(':', at);
            return FoldGlyph(stretch.substr(colon + 1, end - colon - 1), rows);
        }
        at = end + 1;
    }
    return false;
}

} // namespace

const unsigned char *FindFallbackGlyph(unsigned long character)
{
    std::lock_guard<std::mutex> guard(lock);
    if (font == -2) {
        font = open(fontPath, O_RDONLY | O_CLOEXEC);
        struct stat status;
        if (font >= 0 && (fstat(font, &status) != 0 || !S_ISREG(status.st_mode))) {
            close(font);
            font = -1;
        }
        fontSize = font >= 0 ? status.st_size : 0;
    }
    if (font < 0 || character >= planeSize)
        return nullptr;
    if (!lookedUp[character]) {
        lookedUp[character] = true;
        Rows rows;
        if (LookUp(character, rows))
            found.emplace(character, rows);
    }
    auto glyph = found.find(character);
    return glyph != found.end() ? glyph->second.data() : nullptr;
}

#include "BoxGlyphs.h"

#include "DisplayText.h"

/* The terminal's character sets and colours for the box.

   Called under the model lock, which the caller holds; takes no lock of
   its own. */

BoxGlyphs ChooseBoxGlyphs(const TerminalCapabilities &terminal)
{
    if (IsUtf8Display())
        return {"\u250c", "\u2510", "\u2514", "\u2518", "\u2500", "\u2502", "\u2588", "\u2591"};
    const std::string &pairs = terminal.lineDrawingPairs;
    auto drawn = [&](char vt100, const char *ascii) -> std::string {
        for (size_t i = 0; i + 1 < pairs.size(); i += 2)
            if (pairs[i] == vt100 && static_cast<unsigned char>(pairs[i + 1]) > ' ' &&
                static_cast<unsigned char>(pairs[i + 1]) < 0x7f)
                return terminal.enterLineDrawing + pairs[i + 1] + terminal.exitLineDrawing;
        return ascii;
    };
    /* A bar in the checkerboard and its empty part dotted, which every
       such set has; '0' (a solid block) is not one of the VT100's
       characters. */
    return {drawn('l', "+"), drawn('k', "+"), drawn('m', "+"), drawn('j', "+"),
            drawn('q', "-"), drawn('x', "|"), drawn('a', "#"), drawn('~', ".")};
}

/* A line with each run of line-drawing characters entered and left once. */
std::string JoinLineDrawing(std::string line, const TerminalCapabilities &terminal)
{
    if (terminal.lineDrawingPairs.empty())
        return line;
    std::string between = terminal.exitLineDrawing + terminal.enterLineDrawing;
    for (size_t at = line.find(between); at != std::string::npos; at = line.find(between, at))
        line.erase(at, between.size());
    return line;
}

int ToTerminalColour(const Colour &colour, int colours)
{
    if (colours >= 256) {
        auto level = [](UBYTE value) {
            return value < 48 ? 0 : value < 115 ? 1 : (value - 35) / 40;
        };
        return 16 + 36 * level(colour.red) + 6 * level(colour.green) + level(colour.blue);
    }
    return (colour.red >= 128 ? 1 : 0) | (colour.green >= 128 ? 2 : 0) |
           (colour.blue >= 128 ? 4 : 0);
}

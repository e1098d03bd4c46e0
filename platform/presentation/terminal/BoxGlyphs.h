#ifndef PLATFORM_TERMINAL_BOX_GLYPHS_H
#define PLATFORM_TERMINAL_BOX_GLYPHS_H

#include <string>

#include "../../window/HostModel.h"
#include "TerminalCapabilities.h"

/* The characters that draw the box, each one column wide, in the
   terminal's own character set: UTF-8's line drawing where the terminal
   takes UTF-8, else its line-drawing set where terminfo describes one, else
   plain ASCII, so that no byte reaches the terminal that it cannot show. */
struct BoxGlyphs {
    std::string topLeft, topRight, bottomLeft, bottomRight, horizontal, vertical, block, track;
};

BoxGlyphs ChooseBoxGlyphs(const TerminalCapabilities &terminal);

/* A line with each run of line-drawing characters entered and left once. */
std::string JoinLineDrawing(std::string line, const TerminalCapabilities &terminal);

/* A window's colour as one of the terminal's colours (of 8, or of 256). */
int ToTerminalColour(const Colour &colour, int colours);

#endif

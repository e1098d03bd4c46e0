#ifndef PLATFORM_TERMINAL_BOX_RENDERING_H
#define PLATFORM_TERMINAL_BOX_RENDERING_H

#include <string>
#include <vector>

#include "../../window/HostModel.h"
#include "TerminalCapabilities.h"

/* A window to show, with its texts as they were when the program last
   handed its drawing over, copied under the model's lock. */
struct ShownWindow {
    const HostWindow *window;
    std::vector<TextRun> texts;
    /* The text that TextFit last cut to the window's line, whole, and
       which end it kept: the terminal fits it to its own columns again. */
    std::string laidOutText;
    bool laidOutFromEnd;
};

/* What the terminal is to show. */
struct TerminalScene {
    std::vector<ShownWindow> windows;
    int width; /* the terminal's columns and rows */
    int rows;
    /* A request's question with its keys, shown under the windows; empty
       when nothing is asked. */
    std::string prompt;
    /* A button pressed by the person whose window has not yet answered. */
    const HostGadget *pressed;
};

/* The model's windows drawn as text, in the terminal's character set
   (UTF-8 line drawing, else its terminfo line-drawing set, else ASCII).
   Each window other than a request becomes a box as wide as the terminal,
   up to 80 columns: its title, then one line for every band of the inner
   area (one font height tall) that holds text or a filled area, then its
   keys. A cell of a line stands for a slice of the band's pixels (8
   wide where the window has as many pixel columns as the box has cells):
   the text drawn there, a block in the colour that fills most of it, a bar
   for a vertical edge, or blank; a frame along the window's side is shown
   by the box's own edge, and a gauge's empty part as a track. The text that
   the window cut to its line (the message line) is cut again, whole, to the
   columns from its start to the box's edge, keeping the same end, with a
   mark where it was cut. In a terminal narrower than 40 columns, or too
   short for the boxes, each window is drawn compact instead: one line for
   each line of text, squeezed to the terminal's width, then its keys. The
   lines are never wider than the terminal (less its last column where
   writing there moves the cursor on) and never more than its rows, so that
   drawing them neither wraps nor scrolls; the request's question and keys
   come last and are kept when lines must go. */
std::vector<std::string> RenderScene(const TerminalCapabilities &terminal,
                                     const TerminalScene &scene);

/* The key that presses a button: the first letter of its label. */
char GetButtonKey(const HostGadget &button);

#endif

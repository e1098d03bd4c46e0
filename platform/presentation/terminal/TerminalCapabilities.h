#ifndef PLATFORM_TERMINAL_CAPABILITIES_H
#define PLATFORM_TERMINAL_CAPABILITIES_H

#include <string>

/* What the terminal understands, from its terminfo description: the
   sequences that move the cursor, clear, hide the cursor and set colours.
   Read once; the sequences built from parameters are made while drawing,
   which only one thread does at a time. */
class TerminalCapabilities
{
  public:
    /* Reads the description of $TERM for the terminal on descriptor; false
       when there is none, or when it cannot move the cursor up and clear
       lines (a dumb terminal), so that the windows cannot be drawn in
       place. */
    bool Read(int descriptor);
    /* The same for a second reader of standard error's terminal (the
       pager), which leaves the description that an earlier Read made
       current, and frees its own. */
    bool ReadAgain();

    std::string Up(int count) const;
    std::string Foreground(int colour) const;
    std::string Background(int colour) const;

    std::string clearLine;  /* from the cursor to the end of its line */
    std::string clearBelow; /* from the cursor to the end of the screen */
    std::string hideCursor;
    std::string showCursor;
    /* Lines too long for the terminal cut at its edge, instead of wrapping
       onto the next line, and back to wrapping. */
    std::string stopWrapping;
    std::string startWrapping;
    std::string plain; /* all attributes off */
    /* The terminal's line-drawing set: the sequences that enter and leave
       it, and the pairs that map the VT100 graphics characters to the
       characters that draw them there; empty when it has none. */
    std::string enterLineDrawing;
    std::string exitLineDrawing;
    std::string lineDrawingPairs;
    /* How many colours there are to paint with: 256, 8, or 0 for none. */
    int colours = 0;
    /* Whether a line may fill the last column without the cursor moving on
       to the next line. */
    bool lastColumnUsable = false;

  private:
    std::string up_, upLines_, foreground_, background_;
};

#endif

#ifndef PLATFORM_TERMINAL_SCREEN_H
#define PLATFORM_TERMINAL_SCREEN_H

#include <string>
#include <vector>

#include <termios.h>

#include "TerminalCapabilities.h"

/* The terminal of standard error as the windows' drawing uses it: taken
   (keys one at a time without echo, cursor hidden) while the program is in
   the foreground, given back as it was found, and drawn on in place: each
   drawing replaces the last, from the same line, without wrapping. Between
   drawings the cursor waits at the start of the drawing's first line, the
   one place that every terminal keeps on its line through a resize,
   whether it rewraps its lines (tmux, VTE) or cuts them (xterm); so the
   drawing never reaches above the line it started on, and what the person
   had on the screen before it stays there. Not for two threads at once. */
class TerminalScreen
{
  public:
    explicit TerminalScreen(const TerminalCapabilities &terminal) : terminal_(terminal) {}

    /* The terminal whose modes and process group are followed. */
    void SetControl(int descriptor) { control_ = descriptor; }

    bool IsForeground() const;
    bool IsTaken() const { return taken_; }
    /* The next drawing starts afresh on the cursor's line. */
    void Take();
    /* Sets the modes again, after someone else may have changed them. */
    void ApplyModes();
    /* The drawing is cleared, and the cursor waits where it began. */
    void TakeDown();
    /* The cursor goes under the drawing, shown, and the modes are as
       they were. */
    void GiveBack();
    /* The terminal was resized: what was drawn may have been rewrapped
       onto more lines. */
    void NoteResize() { resized_ = true; }
    bool IsResized() const { return resized_; }

    /* The terminal's columns and rows. */
    void GetSize(int &width, int &rows) const;
    /* Replaces the last drawing with lines, which fit the size. */
    void Show(const std::vector<std::string> &lines, int width, int rows);

  private:
    void Write(const std::string &text) const;

    const TerminalCapabilities &terminal_;
    int control_ = -1;
    bool taken_ = false;
    bool resized_ = false;
    struct termios saved_ = {};
    size_t drawnLines_ = 0;
    int drawnWidth_ = 0;
    int drawnRows_ = 0;
};

#endif

#ifndef PLATFORM_WINDOW_ERROR_LINE_H
#define PLATFORM_WINDOW_ERROR_LINE_H

#include <string>

#include <exec/types.h>

/* An error line is the text that the program last cut to its window's
   message line (TextFit) when it then pauses with the window open (Delay):
   the program pauses only so that an error can be read. The line reaches
   the presentation whole, escaped, with the host's reason where there is
   one, which also sends it to standard error, so that a script's log says
   why the run failed whatever the person saw. While it waits, the run
   cannot be aborted, and the window's buttons say so.

   The system's Delay hands its pause here whenever a window is open. */

/* Shows the error line and pauses for ticks; false, with nothing done,
   when no window is open. */
bool PauseAfterErrorLine(LONG ticks);

/* The message line of the last window opened, whole and escaped; false
   when no window is open. Takes the model lock. */
bool ReadMessageLine(std::string &line);

/* The last error line of the run, whole, with the host's reason: what a
   window that says why a run failed shows. */
void RememberErrorLine(const std::string &line);
const std::string &GetLastErrorLine();

#endif

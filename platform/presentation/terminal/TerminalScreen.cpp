#include "TerminalScreen.h"

#include <cerrno>

#include <sys/ioctl.h>
#include <unistd.h>

bool TerminalScreen::IsForeground() const
{
    /* Without a controlling terminal, no one else can want it. */
    pid_t group = tcgetpgrp(control_);
    return group < 0 || group == getpgrp();
}

void TerminalScreen::Take()
{
    if (tcgetattr(control_, &saved_) != 0)
        return;
    taken_ = true;
    ApplyModes();
    /* A terminal whose size changes under a drawing (a multiplexer may
       tell the new size late) cuts its lines rather than wrapping them,
       so that the cursor stays where the drawing expects it. */
    Write(terminal_.hideCursor + terminal_.stopWrapping);
    drawnLines_ = 0;
}

/* Keys one at a time, without echo; Ctrl-C and Ctrl-Z still signal. */
void TerminalScreen::ApplyModes()
{
    struct termios raw = saved_;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(control_, TCSANOW, &raw);
}

void TerminalScreen::GiveBack()
{
    if (!taken_)
        return;
    Write(terminal_.plain + terminal_.startWrapping + (drawnLines_ > 0 ? "\r\n" : "") +
          terminal_.showCursor);
    tcsetattr(control_, TCSANOW, &saved_);
    taken_ = false;
    drawnLines_ = 0;
}

void TerminalScreen::GetSize(int &width, int &rows) const
{
    struct winsize size = {};
    bool known = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
    width = known ? size.ws_col : 80;
    rows = known ? size.ws_row : 24;
}

void TerminalScreen::Show(const std::vector<std::string> &lines, int width, int rows)
{
    /* A size that changed since the last drawing counts as a resize even
       before its signal arrives. */
    if (drawnLines_ > 0 && (width != drawnWidth_ || rows != drawnRows_))
        resized_ = true;
    drawnWidth_ = width;
    drawnRows_ = rows;
    std::string output;
    size_t previous = drawnLines_;
    if (resized_) {
        /* The terminal may have rewrapped or moved what was drawn: clear
           the screen line by line and draw again from the top. */
        for (int row = 0; row < rows; row++)
            output += terminal_.MoveTo(row, 0) + terminal_.clearLine;
        output += terminal_.MoveTo(0, 0);
        resized_ = false;
        previous = 0;
    } else if (previous > 0) {
        /* The cursor stays at the end of the last line drawn. */
        output += '\r';
        output += terminal_.Up(int(previous) - 1);
    }
    /* Each line clears its own; lines of a longer drawing below are
       cleared from the start of the last line (clearing from the top
       corner would push the screen into some terminals' scrollback, and
       clearing from the end of a line that fills the last column would
       take its last character). */
    for (size_t i = 0; i < lines.size(); i++) {
        bool last = i + 1 == lines.size();
        output += last && lines.size() < previous ? terminal_.clearBelow : terminal_.clearLine;
        output += lines[i];
        if (!last)
            output += "\r\n";
    }
    if (lines.empty() && previous > 0)
        output += terminal_.clearBelow;
    Write(output);
    drawnLines_ = lines.size();
}

void TerminalScreen::Write(const std::string &text) const
{
    for (size_t done = 0; done < text.size();) {
        ssize_t written = write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += size_t(written);
    }
}

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

void TerminalScreen::TakeDown()
{
    if (!taken_)
        return;
    Write("\r" + terminal_.clearBelow);
    drawnLines_ = 0;
}

void TerminalScreen::GiveBack()
{
    if (!taken_)
        return;
    /* From the drawing's first line to the line under it. */
    std::string under = "\r";
    for (size_t line = 0; line < drawnLines_; line++)
        under += "\r\n";
    Write(terminal_.plain + terminal_.startWrapping + under + terminal_.showCursor);
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
    std::vector<std::string> shown = lines.empty() ? std::vector<std::string>{""} : lines;
    /* After a resize the last drawing may take more lines than it did, and
       a shorter drawing leaves lines of the longer one: then everything
       under the drawing's first line goes, cleared from the start of the
       second line (clearing from the screen's top corner would push the
       screen into some terminals' scrollback). Otherwise each line clears
       its own, which does not flicker. */
    bool clearRest = resized_ || shown.size() < drawnLines_;
    resized_ = false;
    std::string output = "\r";
    for (size_t i = 0; i < shown.size(); i++) {
        if (i > 0)
            output += "\r\n";
        output += i == 1 && clearRest ? terminal_.clearBelow : terminal_.clearLine;
        output += shown[i];
    }
    size_t below = shown.size() - 1;
    if (clearRest && shown.size() == 1) {
        output += "\r\n";
        output += terminal_.clearBelow;
        below++;
    }
    /* Back to the first line: never further up than the drawing reached
       down, so never above the line it started on. */
    output += '\r';
    output += terminal_.Up(int(below));
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

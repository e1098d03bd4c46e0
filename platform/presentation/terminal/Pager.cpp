#include "Pager.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "../../text/WrapText.h"
#include "DisplayText.h"
#include "TerminalCapabilities.h"
#include "TerminalScreen.h"
#include "TerminalSignals.h"

std::vector<PagerKey> PagerKeys::Decode(const char *bytes, size_t length)
{
    keys_.clear();
    for (size_t i = 0; i < length; i++) {
        char byte = bytes[i];
        if (afterEscape_) {
            afterEscape_ = false;
            if (byte == '[' || byte == 'O') {
                sequence_ = byte;
                continue;
            }
        }
        if (!sequence_.empty()) {
            /* CSI and SS3 sequences run to a final byte. */
            if (byte >= 0x40 && byte <= 0x7e)
                EndSequence(byte);
            else
                sequence_ += byte;
            continue;
        }
        switch (byte) {
        case 0x1b:
            afterEscape_ = true;
            break;
        case ' ':
        case 'f':
            keys_.push_back(PagerKey::PAGE_DOWN);
            break;
        case 'b':
            keys_.push_back(PagerKey::PAGE_UP);
            break;
        case 'j':
        case '\r':
        case '\n':
            keys_.push_back(PagerKey::DOWN);
            break;
        case 'k':
            keys_.push_back(PagerKey::UP);
            break;
        case 'q':
        case 'Q':
            keys_.push_back(PagerKey::QUIT);
            break;
        case 'y':
        case 'Y':
            keys_.push_back(PagerKey::YES);
            break;
        case 'n':
        case 'N':
            keys_.push_back(PagerKey::NO);
            break;
        default:
            break;
        }
    }
    return keys_;
}

void PagerKeys::EndSequence(char final)
{
    std::string parameters = sequence_.substr(1);
    sequence_.clear();
    switch (final) {
    case 'A':
        keys_.push_back(PagerKey::UP);
        return;
    case 'B':
        keys_.push_back(PagerKey::DOWN);
        return;
    case 'H':
        keys_.push_back(PagerKey::HOME);
        return;
    case 'F':
        keys_.push_back(PagerKey::END);
        return;
    case '~':
        break;
    default:
        return;
    }
    /* ESC [ N ~: 1 and 7 Home, 4 and 8 End, 5 Page Up, 6 Page Down. */
    if (parameters == "1" || parameters == "7")
        keys_.push_back(PagerKey::HOME);
    else if (parameters == "4" || parameters == "8")
        keys_.push_back(PagerKey::END);
    else if (parameters == "5")
        keys_.push_back(PagerKey::PAGE_UP);
    else if (parameters == "6")
        keys_.push_back(PagerKey::PAGE_DOWN);
}

void PagerView::SetRows(int rows)
{
    page_ = size_t(std::max(1, rows - 1));
    MoveBy(0);
}

void PagerView::MoveBy(long lines)
{
    size_t last = lines_.size() > page_ ? lines_.size() - page_ : 0;
    long top = std::clamp<long>(long(top_) + lines, 0, long(last));
    top_ = size_t(top);
    if (top_ == last)
        asking_ = true;
}

bool PagerView::Take(PagerKey key, bool &accepted)
{
    long page = long(page_);
    switch (key) {
    case PagerKey::UP:
        MoveBy(-1);
        break;
    case PagerKey::DOWN:
        MoveBy(1);
        break;
    case PagerKey::PAGE_UP:
        MoveBy(-page);
        break;
    case PagerKey::PAGE_DOWN:
        MoveBy(page);
        break;
    case PagerKey::HOME:
        MoveBy(-long(lines_.size()));
        break;
    case PagerKey::END:
        MoveBy(long(lines_.size()));
        break;
    case PagerKey::QUIT:
        asking_ = true;
        break;
    case PagerKey::YES:
    case PagerKey::NO:
        /* Only the question takes an answer, so that a key meant for
           scrolling never answers it. */
        if (!asking_)
            break;
        accepted = key == PagerKey::YES;
        return true;
    }
    return false;
}

std::string PagerView::GetStatus() const
{
    size_t last = std::min(lines_.size(), top_ + page_);
    std::string where = "lines " + std::to_string(top_ + 1) + "-" + std::to_string(last) + " of " +
                        std::to_string(lines_.size());
    /* The answer's keys first, so that a narrow terminal cuts only where
       the reader is. */
    if (asking_)
        return question_ + " [y/n] (" + where + ")";
    return "-- " + where + ": space, arrows, q when read --";
}

namespace
{

/* The text's lines in at most width columns, as the terminal shows them. */
std::vector<std::string> WrapForTerminal(const std::string &text, int width)
{
    std::vector<std::string> wrapped;
    for (const std::string &line : SplitTextLines(text)) {
        std::vector<TextUnit> units;
        for (DisplayCharacter &character : SplitDisplayText(line))
            units.push_back({std::move(character.bytes), size_t(character.width)});
        for (std::string &part : WrapUnits(units, size_t(std::max(1, width - 1))))
            wrapped.push_back(std::move(part));
    }
    return wrapped;
}

std::string FitLine(const std::string &line, int width)
{
    std::string fitted;
    for (const DisplayCharacter &character : FitDisplayText(line, size_t(width - 1), false))
        fitted += character.bytes;
    return fitted;
}

class Pager
{
  public:
    Pager(const std::string &text, const std::string &question, const TerminalCapabilities &caps,
          int keys)
        : text_(text), question_(question), screen_(caps), keys_(keys), view_({}, question)
    {
        screen_.SetControl(keys);
    }

    PagerAnswer Run(TerminalSignals &signals)
    {
        Layout();
        for (;;) {
            Follow();
            struct pollfd watched[2] = {{signals.GetDescriptor(), POLLIN, 0},
                                        {screen_.IsTaken() ? keys_ : -1, POLLIN, 0}};
            if (poll(watched, 2, 200) < 0 && errno != EINTR)
                return Finish(PagerAnswer::UNAVAILABLE, "");
            if (watched[1].revents & (POLLHUP | POLLERR | POLLNVAL))
                return Finish(PagerAnswer::UNAVAILABLE, "");
            for (int signalNumber = signals.Next(); signalNumber != 0;
                 signalNumber = signals.Next()) {
                if (signalNumber == SIGINT)
                    return Finish(PagerAnswer::INTERRUPTED, "");
                if (signalNumber == SIGWINCH) {
                    screen_.NoteResize();
                    Layout();
                } else if (signalNumber == SIGTSTP) {
                    screen_.GiveBack();
                    TerminalSignals::StopProcess();
                } else if (signalNumber != SIGCONT) {
                    screen_.GiveBack();
                    TerminalSignals::EndProcess(signalNumber);
                }
            }
            if (!(watched[1].revents & POLLIN))
                continue;
            char bytes[64];
            ssize_t got = read(keys_, bytes, sizeof bytes);
            if (got <= 0)
                continue;
            for (PagerKey key : decoder_.Decode(bytes, size_t(got))) {
                bool accepted = false;
                if (view_.Take(key, accepted))
                    return Finish(accepted ? PagerAnswer::ACCEPTED : PagerAnswer::DECLINED,
                                  accepted ? "y" : "n");
            }
            Draw();
        }
    }

  private:
    /* Lines wrapped again for the terminal's width, the reader kept at the
       same place of the text. */
    void Layout()
    {
        screen_.GetSize(width_, rows_);
        size_t top = view_.GetTop();
        size_t before = view_.GetLines().size();
        bool asking = view_.IsAsking();
        PagerView view(WrapForTerminal(text_, width_), question_);
        view.SetRows(rows_);
        if (before > 0)
            view.MoveBy(long(top * view.GetLines().size() / before));
        if (asking)
            view.Ask();
        view_ = std::move(view);
        Draw();
    }

    void Follow()
    {
        bool foreground = screen_.IsForeground();
        if (foreground && !screen_.IsTaken()) {
            screen_.Take();
            Draw();
        } else if (!foreground && screen_.IsTaken()) {
            screen_.GiveBack();
        }
    }

    void Draw()
    {
        if (!screen_.IsTaken())
            return;
        std::vector<std::string> shown;
        const std::vector<std::string> &lines = view_.GetLines();
        for (size_t i = view_.GetTop(); i < lines.size() && shown.size() < view_.GetPage(); i++)
            shown.push_back(lines[i]);
        shown.push_back(FitLine(view_.GetStatus(), width_));
        screen_.Show(shown, width_, rows_);
    }

    /* The drawing gives way to the question and its answer alone. */
    PagerAnswer Finish(PagerAnswer answer, const std::string &typed)
    {
        if (screen_.IsTaken()) {
            std::string last = answer == PagerAnswer::INTERRUPTED ? "^C" : typed;
            screen_.Show({FitLine(question_ + " [y/n] " + last, width_)}, width_, rows_);
            screen_.GiveBack();
        }
        return answer;
    }

    const std::string &text_;
    const std::string &question_;
    TerminalScreen screen_;
    int keys_;
    PagerView view_;
    PagerKeys decoder_;
    int width_ = 80, rows_ = 24;
};

} // namespace

PagerAnswer RunPager(const std::string &text, const std::string &question)
{
    if (!isatty(STDERR_FILENO))
        return PagerAnswer::UNAVAILABLE;
    TerminalCapabilities capabilities;
    if (!capabilities.ReadAgain())
        return PagerAnswer::UNAVAILABLE;
    int keys = open("/dev/tty", O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (keys < 0)
        return PagerAnswer::UNAVAILABLE;
    InitDisplayText();
    TerminalSignals signals;
    PagerAnswer answer = PagerAnswer::UNAVAILABLE;
    if (signals.Start()) {
        answer = Pager(text, question, capabilities, keys).Run(signals);
        signals.Stop();
    }
    close(keys);
    return answer;
}

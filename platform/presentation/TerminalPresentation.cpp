#include "../window/Font.h"
#include "../host/HostControls.h"
#include "Presentation.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <text/escape.h>

/* The windows drawn as text on the terminal of standard error. Each window
   becomes a box: its title, then one line for every band of the inner area
   (one font height tall) that holds text or a filled area. A cell of the
   line stands for 8 by font-height pixels: the text drawn there, a block in
   the colour that fills most of it, a bar for a vertical edge, or blank.
   Buttons are pressed with the first letter of their label, the first one
   also with Ctrl-C; a request is asked on the line under the box. */

namespace {

struct Cell {
    std::string text = " ";
    int foreground = -1; /* a pen, or -1 for the terminal's own colour */
    int background = -1;
};

volatile sig_atomic_t interrupted;
struct termios savedTerminal;
int terminalDescriptor = -1;
bool terminalChanged;

const char restoreSequence[] = "\033[0m\033[?25h";

/* A terminal is redrawn at most ten times a second. */
const unsigned long long drawPeriod = 100;

void RestoreTerminal()
{
    if (terminalChanged)
        tcsetattr(terminalDescriptor, TCSANOW, &savedTerminal);
    terminalChanged = false;
}

void NoteInterrupt(int)
{
    interrupted = 1;
}

/* Killed while drawing: leave the terminal usable, then die of the signal. */
void LeaveOnSignal(int signalNumber)
{
    RestoreTerminal();
    ssize_t written = write(STDERR_FILENO, restoreSequence, sizeof restoreSequence - 1);
    (void)written;
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

/* The characters of text as the terminal shows them, one per cell. */
std::vector<std::string> SplitDisplayText(const std::string &bytes)
{
    std::string escaped(bytes.size() * 4 + 1, '\0');
    EscapeText(bytes.data(), bytes.size(), escaped.data(), escaped.size(), KEEP_BACKSLASH);
    std::vector<std::string> characters;
    for (const char *c = escaped.c_str(); *c != '\0';) {
        size_t length = 1;
        while ((c[length] & 0xC0) == 0x80)
            length++;
        characters.emplace_back(c, length);
        c += length;
    }
    return characters;
}

int ToTerminalColour(const Colour &colour)
{
    auto level = [](UBYTE value) { return value < 48 ? 0 : value < 115 ? 1 : (value - 35) / 40; };
    return 16 + 36 * level(colour.red) + 6 * level(colour.green) + level(colour.blue);
}

class TerminalPresentation : public Presentation {
public:
    ~TerminalPresentation() override { Leave(); }

    void ShowWindow(HostWindow &window) override
    {
        if (window.request == nullptr && !entered_)
            Enter();
        Draw();
    }

    void HideWindow(HostWindow &window) override
    {
        if (window.request != nullptr)
            return;
        Draw();
        bool othersOpen = false;
        for (HostWindow *open : GetOpenWindows())
            othersOpen |= open != &window && open->request == nullptr;
        if (!othersOpen)
            Leave();
    }

    void Refresh(HostWindow &, bool now) override
    {
        if (now)
            Draw();
    }

    void CheckInput() override
    {
        /* Keys are read once a millisecond at most, not after every piece. */
        unsigned long long now = GetMilliseconds();
        if (now != lastKeys_) {
            lastKeys_ = now;
            ReadKeys();
        }
        bool dirty = false;
        for (HostWindow *window : GetOpenWindows())
            dirty |= window->dirty;
        if (dirty && now - lastDraw_ >= drawPeriod)
            Draw();
    }

    void Drawn() override
    {
        if (entered_ && GetMilliseconds() - lastDraw_ >= drawPeriod)
            CheckInput();
    }

    void Pause(LONG ticks) override
    {
        Draw();
        unsigned long long end = GetMilliseconds() + GetPauseMilliseconds(ticks);
        for (unsigned long long now = GetMilliseconds(); now < end; now = GetMilliseconds()) {
            WaitForKey(int(end - now));
            ReadKeys();
        }
    }

    UWORD Ask(HostWindow &request) override
    {
        std::vector<HostGadget *> buttons = ListButtons(request);
        std::string keys;
        for (HostGadget *button : buttons)
            keys += std::string(keys.empty() ? "" : "/") + KeyOf(*button);
        prompt_ = request.request->title + ": " + request.request->body + " [" + keys + "] ";
        Draw();
        UWORD answer = 0;
        for (bool answered = keys_ < 0; !answered;) {
            WaitForKey(-1);
            if (interrupted) {
                interrupted = 0;
                answer = buttons.front()->GadgetID;
                break;
            }
            char key;
            while (!answered && read(keys_, &key, 1) == 1)
                for (HostGadget *button : buttons)
                    if (std::tolower(static_cast<unsigned char>(key)) == KeyOf(*button)) {
                        answer = button->GadgetID;
                        answered = true;
                    }
        }
        prompt_.clear();
        Draw();
        return answer;
    }

private:
    static char KeyOf(const HostGadget &button)
    {
        return button.label.empty() ? '\0' : char(std::tolower(static_cast<unsigned char>(button.label[0])));
    }

    void Enter()
    {
        entered_ = true;
        const char *term = std::getenv("TERM");
        colour_ = std::getenv("NO_COLOR") == nullptr && term != nullptr && std::strcmp(term, "dumb") != 0;
        keys_ = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (keys_ >= 0 && tcgetattr(keys_, &savedTerminal) == 0) {
            struct termios raw = savedTerminal;
            raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            terminalDescriptor = keys_;
            terminalChanged = tcsetattr(keys_, TCSANOW, &raw) == 0;
        }
        /* Ctrl-C presses the first button; a call it interrupts (the
           opening of an archive that is a pipe, say) goes on as before. */
        struct sigaction action = {};
        action.sa_handler = NoteInterrupt;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &savedInterrupt_);
        action.sa_handler = LeaveOnSignal;
        for (int i = 0; i < 3; i++)
            sigaction(fatalSignals_[i], &action, &savedFatal_[i]);
        Write("\033[?25l");
    }

    void Leave()
    {
        if (!entered_)
            return;
        entered_ = false;
        RestoreTerminal();
        Write(restoreSequence);
        sigaction(SIGINT, &savedInterrupt_, nullptr);
        for (int i = 0; i < 3; i++)
            sigaction(fatalSignals_[i], &savedFatal_[i], nullptr);
        if (keys_ >= 0)
            close(keys_);
        keys_ = -1;
        terminalDescriptor = -1;
    }

    void WaitForKey(int milliseconds)
    {
        struct pollfd descriptor = {keys_, POLLIN, 0};
        if (keys_ >= 0)
            poll(&descriptor, 1, milliseconds);
        else if (milliseconds != 0)
            poll(nullptr, 0, milliseconds < 0 ? 100 : milliseconds);
    }

    void ReadKeys()
    {
        HostWindow *window = nullptr;
        for (HostWindow *open : GetOpenWindows())
            if (open->request == nullptr)
                window = open;
        if (window == nullptr)
            return;
        std::vector<HostGadget *> buttons = ListButtons(*window);
        if (buttons.empty())
            return;
        if (interrupted) {
            interrupted = 0;
            ReleaseGadget(*window, *buttons.front());
        }
        char key;
        while (keys_ >= 0 && read(keys_, &key, 1) == 1)
            for (HostGadget *button : buttons)
                if (std::tolower(static_cast<unsigned char>(key)) == KeyOf(*button))
                    ReleaseGadget(*window, *button);
    }

    std::string Paint(int foreground, int background, const Colour *palette) const
    {
        if (!colour_ || (foreground < 0 && background < 0))
            return "";
        std::string sequence = "\033[0";
        if (foreground >= 0)
            sequence += ";38;5;" + std::to_string(ToTerminalColour(palette[foreground & 7]));
        if (background >= 0)
            sequence += ";48;5;" + std::to_string(ToTerminalColour(palette[background & 7]));
        return sequence + "m";
    }

    /* One cell for 8 by font-height pixels of the inner area. */
    Cell ReadCell(const HostWindow &window, LONG left, LONG top, LONG right, LONG bottom) const
    {
        unsigned counts[256] = {};
        for (LONG y = top; y <= bottom; y++)
            for (LONG x = left; x <= right; x++)
                counts[GetPixel(window, x, y)]++;
        int dominant = int(std::max_element(counts, counts + 256) - counts);
        int second = -1;
        for (int pen = 0; pen < 256; pen++)
            if (pen != dominant && counts[pen] > 0 && (second < 0 || counts[pen] > counts[second]))
                second = pen;
        Cell cell;
        cell.background = dominant;
        cell.foreground = second;
        UBYTE ground = UBYTE(window.screen->pens[BACKGROUNDPEN]);
        if (dominant != ground) {
            cell.text = "\u2588";
            cell.foreground = dominant;
            return cell;
        }
        for (LONG x = left; x <= right; x++) {
            LONG marked = 0;
            for (LONG y = top; y <= bottom; y++)
                marked += GetPixel(window, x, y) != ground;
            if (2 * marked >= bottom - top + 1) {
                cell.text = "\u2502";
                cell.foreground = GetPixel(window, x, top + (bottom - top) / 2);
                break;
            }
        }
        return cell;
    }

    void RenderWindow(const HostWindow &window, size_t width, std::vector<std::string> &lines) const
    {
        const Colour *palette = window.screen->palette;
        LONG innerLeft = window.BorderLeft, innerTop = window.BorderTop;
        LONG innerRight = window.Width - window.BorderRight - 1;
        LONG innerBottom = window.Height - window.BorderBottom - 1;
        LONG cellHeight = window.rastPort.TxHeight;
        size_t columns = size_t(innerRight - innerLeft + FONT_WIDTH) / FONT_WIDTH;
        columns = std::min(columns, width > 2 ? width - 2 : 0);

        lines.push_back(RenderEdge("\u250c", " " + window.title + " ", columns, "\u2510"));

        for (LONG rowTop = innerTop; rowTop + cellHeight - 1 <= innerBottom; rowTop += cellHeight) {
            std::vector<Cell> row(columns);
            bool worthShowing = false;
            for (size_t c = 0; c < columns; c++) {
                LONG left = innerLeft + LONG(c) * FONT_WIDTH;
                row[c] = ReadCell(window, left, rowTop, std::min(left + FONT_WIDTH - 1, innerRight),
                                  rowTop + cellHeight - 1);
                worthShowing |= row[c].text == "\u2588";
            }
            for (const TextRun &run : window.texts) {
                LONG middle = run.baseline - window.rastPort.TxBaseline + cellHeight / 2;
                if (middle < rowTop || middle >= rowTop + cellHeight || run.baseline <= innerTop)
                    continue;
                LONG column = (run.x - innerLeft + FONT_WIDTH / 2) / FONT_WIDTH;
                for (const std::string &character : SplitDisplayText(run.bytes)) {
                    if (column >= 0 && size_t(column) < columns) {
                        row[column].text = character;
                        worthShowing = true;
                    }
                    column++;
                }
            }
            if (!worthShowing)
                continue;
            std::string line = "\u2502";
            for (const Cell &cell : row)
                line += Paint(cell.foreground, cell.background, palette) + cell.text;
            lines.push_back(line + (colour_ ? "\033[0m" : "") + "\u2502");
        }

        std::string hints;
        for (HostGadget *button : ListButtons(const_cast<HostWindow &>(window)))
            hints += std::string(" [") + KeyOf(*button) + "] " + button->label + " ";
        lines.push_back(RenderEdge("\u2514", hints, columns, "\u2518"));
    }

    /* A box's top or bottom edge, columns wide between its corners, with
       text set into it one cell in from the left. */
    static std::string RenderEdge(const char *leftCorner, const std::string &text, size_t columns,
                                  const char *rightCorner)
    {
        std::string edge = std::string(leftCorner) + "\u2500";
        size_t used = 1;
        for (const std::string &character : SplitDisplayText(text))
            if (used < columns) {
                edge += character;
                used++;
            }
        for (; used < columns; used++)
            edge += "\u2500";
        return edge + rightCorner;
    }

    void Draw()
    {
        if (!entered_)
            return;
        struct winsize size = {};
        size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        std::vector<std::string> lines;
        for (HostWindow *window : GetOpenWindows()) {
            if (window->request == nullptr)
                RenderWindow(*window, width, lines);
            window->dirty = false;
        }
        std::string output;
        if (drawnLines_ > 0)
            output += "\r\033[" + std::to_string(drawnLines_) + "A";
        for (const std::string &line : lines)
            output += "\033[2K" + line + "\n";
        output += "\033[J";
        if (!prompt_.empty()) {
            std::vector<std::string> characters = SplitDisplayText(prompt_);
            characters.resize(std::min(characters.size(), width - 1));
            for (const std::string &character : characters)
                output += character;
        }
        Write(output);
        drawnLines_ = lines.size();
        lastDraw_ = GetMilliseconds();
    }

    void Write(const std::string &text) const
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

    const int fatalSignals_[3] = {SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction savedInterrupt_ = {};
    struct sigaction savedFatal_[3] = {};
    bool entered_ = false;
    bool colour_ = false;
    int keys_ = -1;
    size_t drawnLines_ = 0;
    unsigned long long lastDraw_ = 0;
    unsigned long long lastKeys_ = 0;
    std::string prompt_;
};

}  // namespace

Presentation *StartTerminalPresentation()
{
    if (!isatty(STDERR_FILENO))
        return nullptr;
    return new TerminalPresentation;
}

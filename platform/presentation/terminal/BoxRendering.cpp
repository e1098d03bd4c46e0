#include "BoxRendering.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

#include "../../window/Font.h"
#include "../../window/Raster.h"
#include "DisplayText.h"

namespace
{

/* The box's widest and narrowest forms, in columns: wide enough for a long
   name, and never so wide that the eye must travel far; narrower terminals
   get the compact form. */
const size_t widestBox = 80;
const size_t narrowestBox = 40;

/* The characters that draw the box, each one column wide, in the
   terminal's own character set: UTF-8's line drawing where the terminal
   takes UTF-8, else its line-drawing set where terminfo describes one, else
   plain ASCII, so that no byte reaches the terminal that it cannot show. */
struct BoxGlyphs {
    std::string topLeft, topRight, bottomLeft, bottomRight, horizontal, vertical, block, track;
};

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

struct Cell {
    /* Shows blank, in the colours it had. */
    void Clear()
    {
        text.assign(1, ' ');
        width = 1;
        edge = false;
        foreground = -1;
    }

    std::string text = " ";
    int width = 1; /* 0 for the second column of a wide character */
    int foreground = -1;
    int background = -1;
    bool edge = false;
    bool filled = false;
    bool lettered = false; /* holds a character of a text */
    int dominant = 0;      /* the pens that cover the cell most and next most */
    int second = -1;
};

/* How the inner area's pixel columns fall into cells: 8 pixels each where
   the inner area has as many cells as there are columns; otherwise spread
   evenly over the columns there are (the compact form), or, in a box, 8
   pixels for the first and the last and the rest spread evenly between
   them, so that frames along the window's sides stay in the box's first
   and last columns however wide the box is drawn. */
struct CellColumns {
    enum Spread { EIGHT_PIXELS, EVEN, EVEN_BETWEEN_ENDS };

    LONG left;
    LONG width;
    size_t count;
    Spread spread;

    /* The first pixel column of a cell, or the end of the last at count. */
    LONG Boundary(size_t column) const
    {
        LONG c = LONG(column), n = LONG(count);
        switch (spread) {
        case EIGHT_PIXELS:
            return std::min(left + c * FONT_WIDTH, left + width);
        case EVEN:
            return left + c * width / n;
        case EVEN_BETWEEN_ENDS:
            break;
        }
        if (c == 0 || c == n)
            return left + (c == 0 ? 0 : width);
        return left + FONT_WIDTH + (c - 1) * (width - 2 * FONT_WIDTH) / (n - 2);
    }
    LONG Left(size_t column) const { return Boundary(column); }
    LONG Right(size_t column) const { return std::max(Boundary(column + 1) - 1, Left(column)); }
    /* The boundary nearest pixel column x: where a text drawn there starts. */
    LONG At(LONG x) const
    {
        if (spread == EIGHT_PIXELS)
            return (x - left + FONT_WIDTH / 2) / FONT_WIDTH;
        if (spread == EVEN)
            return ((x - left) * LONG(count) + width / 2) / width;
        if (x <= left)
            return (x - left - FONT_WIDTH / 2) / FONT_WIDTH;
        size_t nearest = 0;
        for (size_t c = 1; c <= count; c++)
            if (std::abs(Boundary(c) - x) < std::abs(Boundary(nearest) - x))
                nearest = c;
        return x >= left + width ? LONG(count) + (x - left - width) / FONT_WIDTH : LONG(nearest);
    }
    /* The cell that holds pixel column x. */
    LONG Holding(LONG x) const
    {
        if (spread == EIGHT_PIXELS)
            return (x - left) / FONT_WIDTH;
        if (spread == EVEN)
            return (x - left) * LONG(count) / width;
        if (x < left)
            return (x - left - FONT_WIDTH + 1) / FONT_WIDTH;
        size_t column = 0;
        while (column + 1 < count && Boundary(column + 1) <= x)
            column++;
        return x >= left + width ? LONG(count) + (x - left - width) / FONT_WIDTH : LONG(column);
    }
};

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

Cell ReadCell(const HostWindow &window, const BoxGlyphs &glyphs, LONG left, LONG top, LONG right,
              LONG bottom)
{
    unsigned counts[256] = {};
    for (LONG y = top; y <= bottom; y++)
        for (LONG x = left; x <= right; x++)
            counts[GetPixel(window, x, y)]++;
    Cell cell;
    cell.dominant = int(std::max_element(counts, counts + 256) - counts);
    for (int pen = 0; pen < 256; pen++)
        if (pen != cell.dominant && counts[pen] > 0 &&
            (cell.second < 0 || counts[pen] > counts[cell.second]))
            cell.second = pen;
    cell.background = cell.dominant;
    cell.foreground = cell.second;
    UBYTE ground = UBYTE(window.screen->pens[BACKGROUNDPEN]);
    if (cell.dominant != ground) {
        cell.text = glyphs.block;
        cell.foreground = cell.dominant;
        cell.filled = true;
        return cell;
    }
    /* The rightmost line stands for the cell: where a bar ends just short
       of its frame, that is the frame. */
    for (LONG x = right; x >= left; x--) {
        LONG marked = 0;
        for (LONG y = top; y <= bottom; y++)
            marked += GetPixel(window, x, y) != ground;
        if (2 * marked >= bottom - top + 1) {
            cell.text = glyphs.vertical;
            cell.foreground = GetPixel(window, x, top + (bottom - top) / 2);
            cell.edge = true;
            break;
        }
    }
    return cell;
}

/* A text run belongs to the band that holds the middle of its line. */
bool IsRunInBand(const HostWindow &window, const TextRun &run, LONG top, LONG bottom)
{
    LONG middle = run.baseline - window.rastPort.TxBaseline + window.rastPort.TxHeight / 2;
    return middle >= top && middle <= bottom && run.baseline > window.BorderTop;
}

/* Places a text's characters over the cells. Its glyphs cover the cells
   it was drawn on: those show the text's characters, or, where the text is
   blank, what lies beneath (a bar stays a bar) but never a glyph's stroke
   read as an edge. A character that does not fit whole is left out. */
void PlaceText(std::vector<Cell> &row, const CellColumns &columns, const HostWindow &window,
               const BoxGlyphs &glyphs, const TextRun &run,
               const std::vector<DisplayCharacter> &characters, bool keepStart)
{
    LONG start = std::max<LONG>(columns.At(run.x), 0);
    /* Shown wider or narrower than its pixels, a label (as on a gauge or
       a button) stays centred where it was drawn. */
    if (!keepStart && columns.spread != CellColumns::EIGHT_PIXELS) {
        size_t lead = 0, trail = 0;
        while (lead < characters.size() && characters[lead].bytes == " ")
            lead++;
        while (trail < characters.size() - lead &&
               characters[characters.size() - 1 - trail].bytes == " ")
            trail++;
        size_t shown = MeasureDisplayText(characters) - lead - trail;
        LONG middle = run.x + LONG(2 * lead + shown) * FONT_WIDTH / 2;
        start = std::max<LONG>(columns.Holding(middle) - LONG(shown / 2) - LONG(lead), 0);
    }
    LONG glyphsEnd = columns.Holding(run.x + run.width - 1) + 1;
    size_t end = std::max(size_t(start) + MeasureDisplayText(characters),
                          size_t(std::max<LONG>(glyphsEnd, 0)));
    for (size_t c = size_t(std::max<LONG>(columns.Holding(run.x), 0));
         c < std::min(end, row.size()); c++)
        if (row[c].edge)
            row[c].Clear();
    /* Blanks between a text's characters read as blanks, painted in what
       lies beneath; blanks at its ends leave what lies beneath. */
    size_t first = 0, last = characters.size();
    while (first < last && characters[first].bytes == " ")
        first++;
    while (last > first && characters[last - 1].bytes == " ")
        last--;
    size_t column = size_t(start);
    for (size_t i = 0; i < characters.size(); i++) {
        const DisplayCharacter &character = characters[i];
        if (column + size_t(character.width) > row.size())
            break;
        if (i >= first && i < last) {
            /* Over a character that took two columns, that one goes. */
            if (row[column].width == 0 && column > 0)
                row[column - 1].Clear();
            if (column + 1 < row.size() && row[column + 1].width == 0)
                row[column + 1].Clear();
            Cell &cell = row[column];
            cell.lettered = true;
            cell.text = character.bytes;
            cell.width = character.width;
            cell.edge = false;
            cell.foreground = cell.second;
            if (character.width == 2) {
                row[column + 1].Clear();
                row[column + 1].width = 0;
                row[column + 1].text.clear();
            }
        }
        column += size_t(character.width);
    }
    /* Where the glyphs took more cells than the characters (a window shown
       wider than its pixels), the cells they alone covered show what lies
       beneath the text, as the pixel row just above it has it. */
    LONG above = run.baseline - window.rastPort.TxBaseline - 1;
    for (size_t c = size_t(std::max<LONG>(columns.Holding(run.x), 0));
         c < std::min(end, row.size()); c++) {
        Cell &cell = row[c];
        if (!cell.filled || cell.lettered)
            continue;
        Cell beneath = ReadCell(window, glyphs, columns.Left(c), above, columns.Right(c), above);
        if (!beneath.filled) {
            cell.Clear();
            cell.filled = false;
            continue;
        }
        cell.dominant = beneath.dominant;
        cell.foreground = beneath.foreground;
        cell.background = beneath.background;
    }
}

/* Whether a run shows the text that TextFit cut to the window's line: the
   window's top line of text (the message line), whatever the texts under
   it hold. */
bool IsLaidOut(const ShownWindow &shown, const TextRun &run)
{
    for (const TextRun &other : shown.texts)
        if (other.baseline < run.baseline && other.baseline > shown.window->BorderTop)
            return false;
    const std::string &whole = shown.laidOutText;
    size_t length = run.bytes.size();
    if (length == 0 || length > whole.size())
        return false;
    return whole.compare(shown.laidOutFromEnd ? whole.size() - length : 0, length, run.bytes) == 0;
}

class SceneRenderer
{
  public:
    SceneRenderer(const TerminalCapabilities &terminal, const TerminalScene &scene)
        : terminal_(terminal), scene_(scene), glyphs_(ChooseBoxGlyphs(terminal))
    {
    }

    std::vector<std::string> Render() const
    {
        size_t room = size_t(std::max(scene_.width - (terminal_.lastColumnUsable ? 0 : 1), 1));
        std::vector<std::string> prompt = WrapText(scene_.prompt, room);

        std::vector<std::string> lines;
        size_t boxColumns = std::min(room, widestBox);
        bool fits = boxColumns >= narrowestBox;
        for (const ShownWindow &shown : scene_.windows)
            if (fits)
                RenderBox(shown, boxColumns - 2, lines);
        if (!fits || lines.size() + prompt.size() > size_t(std::max(scene_.rows, 1))) {
            lines.clear();
            for (const ShownWindow &shown : scene_.windows)
                RenderCompact(shown, std::min(GetInnerCells(*shown.window), room), lines);
        }
        lines.insert(lines.end(), prompt.begin(), prompt.end());
        size_t rows = size_t(std::max(scene_.rows, 1));
        if (lines.size() > rows)
            lines.erase(lines.begin(), lines.end() - ptrdiff_t(rows));
        return lines;
    }

  private:
    static size_t GetInnerCells(const HostWindow &window)
    {
        LONG innerWidth = window.Width - window.BorderLeft - window.BorderRight;
        return size_t(std::max<LONG>(innerWidth + FONT_WIDTH - 1, 0)) / FONT_WIDTH;
    }

    /* A box's columns keep the window's frames at its sides; the compact
       form squeezes the window into what there is. */
    static CellColumns GetColumns(const HostWindow &window, size_t count, bool box)
    {
        LONG innerWidth = window.Width - window.BorderLeft - window.BorderRight;
        CellColumns::Spread spread = count == GetInnerCells(window) ? CellColumns::EIGHT_PIXELS
                                     : box && count > 2 && innerWidth > 2 * FONT_WIDTH
                                         ? CellColumns::EVEN_BETWEEN_ENDS
                                         : CellColumns::EVEN;
        return {window.BorderLeft, innerWidth, count, spread};
    }

    std::vector<Cell> RenderBand(const ShownWindow &shown, const CellColumns &columns, LONG top,
                                 LONG bottom, bool skipButtons) const
    {
        const HostWindow &window = *shown.window;
        std::vector<Cell> row(columns.count);
        bool fillPens[256] = {};
        for (size_t c = 0; c < columns.count; c++) {
            row[c] = ReadCell(window, glyphs_, columns.Left(c), top, columns.Right(c), bottom);
            if (row[c].filled)
                fillPens[row[c].dominant] = true;
        }
        /* The thin end of a filled area is not an edge: less than half a
           cell of it shows as nothing, as more than half shows as a block.
           A filled area that nothing lies beyond has covered the frame
           that closed it (a full gauge): its last cell shows that line. */
        bool beyond = false;
        for (size_t c = columns.count; c-- > 0;) {
            Cell &cell = row[c];
            if (!beyond && cell.filled) {
                cell.text = glyphs_.vertical;
                cell.edge = true;
                cell.filled = false;
                cell.background = window.screen->pens[BACKGROUNDPEN];
            } else if (cell.edge && fillPens[cell.foreground & 0xff] && beyond) {
                cell.Clear();
            }
            beyond |= cell.edge || cell.filled;
        }
        HostWindow &model = const_cast<HostWindow &>(window);
        for (const TextRun &run : shown.texts) {
            if (!IsRunInBand(window, run, top, bottom) ||
                (skipButtons && FindGadgetAt(model, run.x, run.baseline - 1) != nullptr))
                continue;
            size_t room =
                row.size() - std::min(row.size(), size_t(std::max<LONG>(columns.At(run.x), 0)));
            bool laidOut = IsLaidOut(shown, run);
            PlaceText(row, columns, window, glyphs_, run,
                      laidOut ? FitDisplayText(shown.laidOutText, room, shown.laidOutFromEnd)
                              : SplitDisplayText(run.bytes),
                      laidOut);
        }
        return row;
    }

    std::string Paint(int foreground, int background, const Colour *palette) const
    {
        std::string sequence = terminal_.plain;
        if (foreground >= 0)
            sequence +=
                terminal_.Foreground(ToTerminalColour(palette[foreground & 7], terminal_.colours));
        if (background >= 0)
            sequence +=
                terminal_.Background(ToTerminalColour(palette[background & 7], terminal_.colours));
        return sequence;
    }

    std::string JoinCells(const std::vector<Cell> &row, const Colour *palette) const
    {
        std::string line;
        bool painting = terminal_.colours > 0;
        int foreground = -1, background = -1;
        for (const Cell &cell : row) {
            if (cell.width == 0)
                continue;
            if (painting && (cell.foreground != foreground || cell.background != background)) {
                line += Paint(cell.foreground, cell.background, palette);
                foreground = cell.foreground;
                background = cell.background;
            }
            line += cell.text;
        }
        if (painting && (foreground >= 0 || background >= 0))
            line += terminal_.plain;
        return line;
    }

    std::string GetKeys(const HostWindow &window) const
    {
        std::string keys;
        for (HostGadget *button : ListButtons(const_cast<HostWindow &>(window))) {
            keys += std::string(" [") + GetButtonKey(*button) + "] " + button->label;
            keys += button == scene_.pressed ? " (pressed) " : " ";
        }
        return keys;
    }

    /* A box count columns wide inside its edges. A gadget's frame that
       lies along the window's border falls into the box's first or last
       column: the box's edge stands for it, so that no row shows two. */
    void RenderBox(const ShownWindow &shown, size_t count, std::vector<std::string> &lines) const
    {
        const HostWindow &window = *shown.window;
        CellColumns columns = GetColumns(window, count, true);
        lines.push_back(
            RenderEdge(glyphs_.topLeft, " " + window.title + " ", count, glyphs_.topRight));
        LONG innerTop = window.BorderTop;
        LONG innerBottom = window.Height - window.BorderBottom - 1;
        LONG cellHeight = window.rastPort.TxHeight;
        for (LONG top = innerTop; top + cellHeight - 1 <= innerBottom; top += cellHeight) {
            std::vector<Cell> row = RenderBand(shown, columns, top, top + cellHeight - 1, false);
            bool worthShowing = std::any_of(row.begin(), row.end(), [](const Cell &cell) {
                return cell.filled || (cell.text != " " && !cell.edge);
            });
            if (!worthShowing)
                continue;
            /* Framed (or filled) on both sides and no gadget: a gauge. Its
               frame's sides
               share the box's first and last columns with the bar, which
               they then show; its empty part shows as a track, so that an
               empty gauge shows its length, with a blank either side of
               the label. */
            bool gauge = row.size() > 2 && (row.front().edge || row.front().filled) &&
                         row.back().edge &&
                         FindGadgetAt(const_cast<HostWindow &>(window), columns.Left(count / 2),
                                      top + cellHeight / 2) == nullptr;
            if (gauge) {
                for (size_t side : {size_t(0), row.size() - 1}) {
                    row[side] = row[side == 0 ? 1 : side - 1];
                    if (!row[side].filled) {
                        row[side].Clear();
                        row[side].lettered = false;
                    }
                }
                for (size_t c = 0; c < row.size(); c++) {
                    bool nearText = (c > 0 && row[c - 1].lettered) ||
                                    (c + 1 < row.size() && row[c + 1].lettered);
                    Cell &cell = row[c];
                    if (!cell.filled && !cell.edge && !cell.lettered && cell.width == 1 &&
                        !nearText)
                        cell.text = glyphs_.track;
                }
            }
            if (row.front().edge)
                row.front().Clear();
            if (row.back().edge)
                row.back().Clear();
            lines.push_back(JoinLineDrawing(
                glyphs_.vertical + JoinCells(row, window.screen->palette) + glyphs_.vertical,
                terminal_));
        }
        lines.push_back(
            RenderEdge(glyphs_.bottomLeft, GetKeys(window), count, glyphs_.bottomRight));
    }

    void RenderCompact(const ShownWindow &shown, size_t count,
                       std::vector<std::string> &lines) const
    {
        const HostWindow &window = *shown.window;
        CellColumns columns = GetColumns(window, count, false);
        std::map<LONG, bool> baselines;
        HostWindow &model = const_cast<HostWindow &>(window);
        for (const TextRun &run : shown.texts)
            if (run.baseline > window.BorderTop &&
                FindGadgetAt(model, run.x, run.baseline - 1) == nullptr)
                baselines[run.baseline] = true;
        for (const auto &[baseline, unused] : baselines) {
            (void)unused;
            LONG top = baseline - window.rastPort.TxBaseline;
            std::vector<Cell> row =
                RenderBand(shown, columns, top, top + window.rastPort.TxHeight - 1, true);
            lines.push_back(JoinLineDrawing(JoinCells(row, window.screen->palette), terminal_));
        }
        std::string keys = GetKeys(window);
        if (!keys.empty())
            lines.push_back(CutText(keys.substr(1), count));
    }

    /* A box's top or bottom edge, columns wide between its corners, with
       text set into it one cell in from the left. */
    std::string RenderEdge(const std::string &leftCorner, const std::string &text, size_t columns,
                           const std::string &rightCorner) const
    {
        std::string edge = leftCorner + glyphs_.horizontal;
        size_t used = 1;
        for (const DisplayCharacter &character : SplitDisplayText(text)) {
            if (used + size_t(character.width) > columns)
                break;
            edge += character.bytes;
            used += size_t(character.width);
        }
        for (; used < columns; used++)
            edge += glyphs_.horizontal;
        return JoinLineDrawing(edge + rightCorner, terminal_);
    }

    /* The text's first characters that fit in columns. */
    static std::string CutText(const std::string &text, size_t columns)
    {
        std::string cut;
        size_t used = 0;
        for (const DisplayCharacter &character : SplitDisplayText(text)) {
            if (used + size_t(character.width) > columns)
                break;
            cut += character.bytes;
            used += size_t(character.width);
        }
        return cut;
    }

    /* Text broken into lines of at most columns, between words where it
       can be; the last line keeps its trailing blank, where the cursor
       waits. */
    static std::vector<std::string> WrapText(const std::string &text, size_t columns)
    {
        std::vector<std::string> lines;
        if (text.empty())
            return lines;
        std::vector<DisplayCharacter> characters = SplitDisplayText(text);
        size_t start = 0;
        while (start < characters.size()) {
            size_t used = 0, end = start, lastBreak = 0;
            while (end < characters.size() && used + size_t(characters[end].width) <= columns) {
                used += size_t(characters[end].width);
                end++;
                if (characters[end - 1].bytes == " ")
                    lastBreak = end;
            }
            if (end < characters.size() && lastBreak > start)
                end = lastBreak;
            if (end == start)
                end++;
            std::string line;
            for (size_t i = start; i < end; i++)
                line += characters[i].bytes;
            lines.push_back(line);
            start = end;
        }
        return lines;
    }

    const TerminalCapabilities &terminal_;
    const TerminalScene &scene_;
    const BoxGlyphs glyphs_;
};

} // namespace

std::vector<std::string> RenderScene(const TerminalCapabilities &terminal,
                                     const TerminalScene &scene)
{
    return SceneRenderer(terminal, scene).Render();
}

char GetButtonKey(const HostGadget &button)
{
    return button.label.empty() ? '\0'
                                : char(std::tolower(static_cast<unsigned char>(button.label[0])));
}

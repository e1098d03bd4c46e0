#include "BoxRendering.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "../../window/Font.h"
#include "../../window/Raster.h"
#include "DisplayText.h"

namespace
{

const char blockCharacter[] = "\u2588";
const char edgeCharacter[] = "\u2502";

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
    int dominant = 0; /* the pens that cover the cell most and next most */
    int second = -1;
};

/* How the inner area's pixel columns fall into cells: 8 pixels each in a
   box, or spread evenly over the columns there are in the compact form. */
struct CellColumns {
    LONG left;
    LONG width;
    size_t count;
    bool squeezed;

    LONG Left(size_t column) const
    {
        return squeezed ? left + LONG(column) * width / LONG(count)
                        : left + LONG(column) * FONT_WIDTH;
    }
    LONG Right(size_t column) const
    {
        LONG end = squeezed ? left + LONG(column + 1) * width / LONG(count)
                            : std::min(left + LONG(column + 1) * FONT_WIDTH, left + width);
        return std::max(end - 1, Left(column));
    }
    LONG At(LONG x) const
    {
        LONG column = squeezed ? ((x - left) * LONG(count) + width / 2) / width
                               : (x - left + FONT_WIDTH / 2) / FONT_WIDTH;
        return column;
    }
    /* The cell that holds pixel column x. */
    LONG Holding(LONG x) const
    {
        return squeezed ? (x - left) * LONG(count) / width : (x - left) / FONT_WIDTH;
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

Cell ReadCell(const HostWindow &window, LONG left, LONG top, LONG right, LONG bottom)
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
        cell.text = blockCharacter;
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
            cell.text = edgeCharacter;
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
void PlaceText(std::vector<Cell> &row, const CellColumns &columns, const TextRun &run,
               const std::vector<DisplayCharacter> &characters)
{
    LONG start = std::max<LONG>(columns.At(run.x), 0);
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
        : terminal_(terminal), scene_(scene)
    {
    }

    std::vector<std::string> Render() const
    {
        size_t room = size_t(std::max(scene_.width - (terminal_.lastColumnUsable ? 0 : 1), 1));
        std::vector<std::string> prompt = WrapText(scene_.prompt, room);

        std::vector<std::string> lines;
        bool fits = true;
        for (const ShownWindow &shown : scene_.windows) {
            fits &= GetInnerCells(*shown.window) + 2 <= room;
            if (fits)
                RenderBox(shown, lines);
        }
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

    static CellColumns GetColumns(const HostWindow &window, size_t count)
    {
        LONG innerWidth = window.Width - window.BorderLeft - window.BorderRight;
        return {window.BorderLeft, innerWidth, count, count != GetInnerCells(window)};
    }

    std::vector<Cell> RenderBand(const ShownWindow &shown, const CellColumns &columns, LONG top,
                                 LONG bottom, bool skipButtons) const
    {
        const HostWindow &window = *shown.window;
        std::vector<Cell> row(columns.count);
        bool fillPens[256] = {};
        for (size_t c = 0; c < columns.count; c++) {
            row[c] = ReadCell(window, columns.Left(c), top, columns.Right(c), bottom);
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
                cell.text = edgeCharacter;
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
            PlaceText(row, columns, run,
                      IsLaidOut(shown, run)
                          ? FitDisplayText(shown.laidOutText, room, shown.laidOutFromEnd)
                          : SplitDisplayText(run.bytes));
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

    void RenderBox(const ShownWindow &shown, std::vector<std::string> &lines) const
    {
        const HostWindow &window = *shown.window;
        size_t count = GetInnerCells(window);
        CellColumns columns = GetColumns(window, count);
        lines.push_back(RenderEdge("\u250c", " " + window.title + " ", count, "\u2510"));
        LONG innerTop = window.BorderTop;
        LONG innerBottom = window.Height - window.BorderBottom - 1;
        LONG cellHeight = window.rastPort.TxHeight;
        for (LONG top = innerTop; top + cellHeight - 1 <= innerBottom; top += cellHeight) {
            std::vector<Cell> row = RenderBand(shown, columns, top, top + cellHeight - 1, false);
            bool worthShowing = std::any_of(row.begin(), row.end(), [](const Cell &cell) {
                return cell.filled || (cell.text != " " && !cell.edge);
            });
            if (worthShowing)
                lines.push_back(edgeCharacter + JoinCells(row, window.screen->palette) +
                                edgeCharacter);
        }
        lines.push_back(RenderEdge("\u2514", GetKeys(window), count, "\u2518"));
    }

    void RenderCompact(const ShownWindow &shown, size_t count,
                       std::vector<std::string> &lines) const
    {
        const HostWindow &window = *shown.window;
        CellColumns columns = GetColumns(window, count);
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
            lines.push_back(JoinCells(row, window.screen->palette));
        }
        std::string keys = GetKeys(window);
        if (!keys.empty())
            lines.push_back(CutText(keys.substr(1), count));
    }

    /* A box's top or bottom edge, columns wide between its corners, with
       text set into it one cell in from the left. */
    static std::string RenderEdge(const char *leftCorner, const std::string &text, size_t columns,
                                  const char *rightCorner)
    {
        std::string edge = std::string(leftCorner) + "\u2500";
        size_t used = 1;
        for (const DisplayCharacter &character : SplitDisplayText(text)) {
            if (used + size_t(character.width) > columns)
                break;
            edge += character.bytes;
            used += size_t(character.width);
        }
        for (; used < columns; used++)
            edge += "\u2500";
        return edge + rightCorner;
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

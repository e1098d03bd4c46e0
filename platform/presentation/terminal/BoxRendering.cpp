#include "BoxRendering.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "../../window/Font.h"
#include "BoxCells.h"
#include "BoxGlyphs.h"
#include "DisplayText.h"

/* The scene put together: a box for each window, with its frame, its
   bands and its gauges, or the compact form, then the request's question.

   Called under the model lock, which the caller holds; takes no lock of
   its own. */

namespace
{

/* The box's widest and narrowest forms, in columns: wide enough for a long
   name, and never so wide that the eye must travel far; narrower terminals
   get the compact form. */
const size_t widestBox = 80;
const size_t narrowestBox = 40;
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

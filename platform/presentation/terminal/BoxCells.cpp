#include "BoxCells.h"

#include "../../window/Raster.h"

/* The window's pixels and texts read into the cells of one line of a box.

   Called under the model lock, which the caller holds; takes no lock of
   its own. */

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

bool IsRunInBand(const HostWindow &window, const TextRun &run, LONG top, LONG bottom)
{
    LONG middle = run.baseline - window.rastPort.TxBaseline + window.rastPort.TxHeight / 2;
    return middle >= top && middle <= bottom && run.baseline > window.BorderTop;
}

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

#include "Installer.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "../platform/presentation/Presentation.h"
#include "../platform/text/WrapText.h"
#include "../platform/window/Font.h"
#include "../platform/window/HostModel.h"
#include "../platform/window/Raster.h"
#include "../platform/window/TextLayout.h"

/* The licence in a window of the screen's look, over the middle of the
   default public screen: a line that says what is asked, the licence in a
   sunken field with a bar beside it that shows which part is in view, and
   a row with Accept at the left, where the reader is in the middle and
   Decline at the right. It is a request window: the presentation brings
   back the button chosen (closing the window declines), and moves the text
   with the keys and the mouse wheel through the request's scroll, and by a
   page with a click in the bar above or below its knob through the
   request's press; both draw straight into the window's pixels. */

namespace
{

const LONG margin = 8;
const LONG padding = 4;
const LONG barWidth = 12;
const LONG buttonPadding = 16;
const size_t mostColumns = 72;
const size_t mostRows = 20;
const size_t fewestRows = 6;
const char heading[] = "Read the licence: the installation goes on only once you accept it.";

} // namespace

std::vector<std::string> WrapForWindow(const std::string &text, size_t columns)
{
    std::vector<std::string> wrapped;
    for (const std::string &line : SplitTextLines(text)) {
        std::vector<TextUnit> units;
        for (size_t at = 0; at < line.size();) {
            TextPiece piece = ReadTextPiece(line.data() + at, line.size() - at);
            units.push_back({line.substr(at, piece.length), piece.cells});
            at += piece.length;
        }
        for (std::string &part : WrapUnits(units, columns))
            wrapped.push_back(std::move(part));
    }
    return wrapped;
}

namespace
{

struct Box {
    LONG left, top, right, bottom;
};

/* What the window shows and where. */
struct LicenseView {
    std::vector<std::string> lines;
    size_t top = 0;
    size_t rows = 0;
    LONG lineHeight = 0;
    Box field, bar, status;
    /* Where the knob was last drawn. */
    LONG knobTop = 0, knobBottom = 0;
};

void DrawBevel(HostWindow &window, const Box &box, bool sunken)
{
    const UWORD *pens = window.screen->pens;
    UBYTE light = UBYTE(pens[SHINEPEN]), dark = UBYTE(pens[SHADOWPEN]);
    UBYTE topLeft = sunken ? dark : light, bottomRight = sunken ? light : dark;
    FillPixels(window, box.left, box.top, box.right, box.top, topLeft, JAM1);
    FillPixels(window, box.left, box.top, box.left, box.bottom, topLeft, JAM1);
    FillPixels(window, box.left, box.bottom, box.right, box.bottom, bottomRight, JAM1);
    FillPixels(window, box.right, box.top, box.right, box.bottom, bottomRight, JAM1);
}

void DrawText(HostWindow &window, LONG x, LONG top, const std::string &text, UBYTE pen)
{
    const struct TextFont &font = window.screen->font;
    DrawTextPixels(window, x, top + font.tf_Baseline, text.data(), ULONG(text.size()),
                   {font.tf_YSize, font.tf_Baseline, pen, 0, JAM1});
}

/* The lines in view, the bar and the reader's place; the model lock held. */
void DrawLicenseView(HostWindow &window, LicenseView &view)
{
    const UWORD *pens = window.screen->pens;
    const Box &field = view.field;
    FillPixels(window, field.left, field.top, field.right, field.bottom, UBYTE(pens[SHINEPEN]),
               JAM1);
    DrawBevel(window, field, true);
    for (size_t row = 0; row < view.rows && view.top + row < view.lines.size(); row++)
        DrawText(window, field.left + padding, field.top + 2 + LONG(row) * view.lineHeight,
                 view.lines[view.top + row], UBYTE(pens[TEXTPEN]));

    const Box &bar = view.bar;
    FillPixels(window, bar.left, bar.top, bar.right, bar.bottom, UBYTE(pens[BACKGROUNDPEN]), JAM1);
    DrawBevel(window, bar, true);
    LONG track = bar.bottom - bar.top - 3;
    size_t total = std::max(view.lines.size(), view.rows);
    LONG knobTop = bar.top + 2 + LONG(uint64_t(track) * view.top / total);
    LONG knobHeight = std::max<LONG>(6, LONG(uint64_t(track) * view.rows / total));
    Box knob = {bar.left + 2, knobTop, bar.right - 2,
                std::min(bar.bottom - 2, knobTop + knobHeight - 1)};
    FillPixels(window, knob.left, knob.top, knob.right, knob.bottom, UBYTE(pens[FILLPEN]), JAM1);
    DrawBevel(window, knob, false);
    view.knobTop = knob.top;
    view.knobBottom = knob.bottom;

    const Box &status = view.status;
    FillPixels(window, status.left, status.top, status.right, status.bottom,
               UBYTE(pens[BACKGROUNDPEN]), JAM1);
    size_t last = std::min(view.lines.size(), view.top + view.rows);
    std::string where = "Lines " + std::to_string(view.top + 1) + "-" + std::to_string(last) +
                        " of " + std::to_string(view.lines.size());
    LONG width = LONG(where.size()) * FONT_WIDTH;
    DrawText(window, (status.left + status.right + 1 - width) / 2, status.top, where,
             UBYTE(pens[TEXTPEN]));
    window.dirty = true;
}

std::unique_ptr<HostGadget> MakeButton(HostWindow &window, const std::string &label, UWORD id,
                                       LONG left, LONG top, LONG height)
{
    auto button = std::make_unique<HostGadget>();
    button->kind = BUTTON_KIND;
    button->label = label;
    button->GadgetID = id;
    button->Width = WORD(LONG(label.size()) * FONT_WIDTH + 2 * buttonPadding);
    button->Height = WORD(height);
    button->LeftEdge = WORD(left);
    button->TopEdge = WORD(top);
    DrawButton(window, *button);
    return button;
}

} // namespace

bool AskLicenseInWindow(const std::string &text)
{
    std::unique_lock<std::recursive_mutex> guard(GetModelLock());
    HostScreen &screen = *FindPublicScreen(nullptr);
    LONG fontHeight = screen.font.tf_YSize;
    LONG lineHeight = fontHeight + 2;
    LONG buttonHeight = fontHeight + 6;
    LONG frameWidth = screen.WBorLeft + screen.WBorRight;
    LONG frameHeight = screen.WBorTop + fontHeight + 1 + screen.WBorBottom;

    LONG spareWidth = screen.Width - frameWidth - 2 * margin - 2 * padding - 4 - barWidth;
    size_t columns =
        std::clamp<size_t>(size_t(std::max<LONG>(0, spareWidth)) / FONT_WIDTH, 20, mostColumns);
    std::vector<std::string> headingLines = WrapForWindow(heading, columns + 2);
    LicenseView view;
    view.lines = WrapForWindow(text, columns);
    view.lineHeight = lineHeight;
    LONG chrome = frameHeight + margin + LONG(headingLines.size()) * lineHeight + margin / 2 + 4 +
                  margin / 2 + buttonHeight + margin / 2;
    size_t fitting = size_t(std::max<LONG>(0, screen.Height - chrome) / lineHeight);
    view.rows = std::clamp(view.lines.size(), fewestRows,
                           std::max(fewestRows, std::min(mostRows, fitting)));

    LONG fieldWidth = LONG(columns) * FONT_WIDTH + 2 * padding;
    LONG fieldHeight = LONG(view.rows) * lineHeight + 4;
    LONG innerWidth = 2 * margin + fieldWidth + 4 + barWidth;
    LONG innerHeight = chrome - frameHeight + fieldHeight - 4;
    LONG outerWidth = innerWidth + frameWidth, outerHeight = innerHeight + frameHeight;
    RequestText request = {"Licence", "", {"Accept", "Decline"}, nullptr, int(view.rows)};
    HostWindow *window =
        CreateHostWindow(screen, (screen.Width - outerWidth) / 2, (screen.Height - outerHeight) / 2,
                         innerWidth, innerHeight, request.title.c_str(), 0, WFLG_DRAGBAR);
    window->request = &request;

    LONG left = window->BorderLeft + margin;
    LONG top = window->BorderTop + margin;
    for (const std::string &line : headingLines) {
        DrawText(*window, left, top, line, UBYTE(screen.pens[TEXTPEN]));
        top += lineHeight;
    }
    top += margin / 2;
    view.field = {left, top, left + fieldWidth - 1, top + fieldHeight - 1};
    view.bar = {view.field.right + 5, top, view.field.right + 4 + barWidth, view.field.bottom};
    LONG rowTop = view.field.bottom + 1 + margin / 2;
    auto accept = MakeButton(*window, "Accept", 1, left, rowTop, buttonHeight);
    const std::string declineLabel = "Decline";
    LONG declineLeft =
        view.bar.right + 1 - LONG(declineLabel.size()) * FONT_WIDTH - 2 * buttonPadding;
    auto decline = MakeButton(*window, declineLabel, 0, declineLeft, rowTop, buttonHeight);
    view.status = {accept->LeftEdge + accept->Width + margin,
                   rowTop + (buttonHeight - fontHeight) / 2, decline->LeftEdge - margin - 1,
                   rowTop + (buttonHeight + fontHeight) / 2};
    window->FirstGadget = accept.get();
    accept->NextGadget = decline.get();
    DrawLicenseView(*window, view);

    request.scroll = [&view](HostWindow &shown, int lines) {
        size_t last = view.lines.size() > view.rows ? view.lines.size() - view.rows : 0;
        long moved = std::clamp<long>(long(view.top) + lines, 0, long(last));
        if (size_t(moved) == view.top)
            return;
        view.top = size_t(moved);
        DrawLicenseView(shown, view);
    };
    request.press = [&view, &request](HostWindow &shown, LONG x, LONG y) {
        const Box &bar = view.bar;
        if (x < bar.left || x > bar.right || y < bar.top || y > bar.bottom)
            return false;
        if (y < view.knobTop)
            request.scroll(shown, -request.page);
        else if (y > view.knobBottom)
            request.scroll(shown, request.page);
        return true;
    };

    guard.unlock();
    UWORD answer = GetPresentation().Ask(*window);
    guard.lock();
    window->FirstGadget = nullptr;
    DestroyHostWindow(window);
    return answer == 1;
}

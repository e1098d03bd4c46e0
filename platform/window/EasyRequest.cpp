#include "../system/HostLibraries.h"
#include "Font.h"
#include "HostModel.h"
#include "Presentation.h"
#include "TextLayout.h"

#include <algorithm>
#include <memory>
#include <mutex>

/* EasyRequestArgs: a request window beside the reference window, with the
   text and a row of buttons; the presentation shows it and brings back the
   person's choice. Buttons count 1, 2, ... from the left, the rightmost 0.
   The model lock is let go while the person chooses, so that the
   presentation can show the request and take in the choice. */

namespace
{

std::vector<std::string> SplitText(const char *text, char separator)
{
    std::vector<std::string> parts(1);
    for (const char *c = text != nullptr ? text : ""; *c != '\0'; c++) {
        if (*c == separator)
            parts.emplace_back();
        else
            parts.back().push_back(*c);
    }
    return parts;
}

LONG MeasureWidth(const std::string &text)
{
    return LONG(MeasureTextCells(text.data(), text.size())) * FONT_WIDTH;
}

const LONG margin = 16;
const LONG buttonSpacing = 16;

/* A request stands where it leaves the window it asks about in view, so
   that the person sees what the question is about: above that window,
   else below it, else (with no room either side) in the middle of the
   screen; centred across the window, and always on the screen. Without a
   window it stands in the middle of the screen. */
void PlaceRequest(HostWindow &request, const HostWindow *reference, const HostScreen &screen)
{
    const LONG gap = 8;
    LONG width = request.Width, height = request.Height;
    LONG left = (screen.Width - width) / 2, top = (screen.Height - height) / 2;
    if (reference != nullptr) {
        left = reference->LeftEdge + (reference->Width - width) / 2;
        if (reference->TopEdge - gap - height >= 0)
            top = reference->TopEdge - gap - height;
        else if (reference->TopEdge + reference->Height + gap + height <= screen.Height)
            top = reference->TopEdge + reference->Height + gap;
    }
    request.LeftEdge = WORD(std::clamp<LONG>(left, 0, std::max<LONG>(screen.Width - width, 0)));
    request.TopEdge = WORD(std::clamp<LONG>(top, 0, std::max<LONG>(screen.Height - height, 0)));
}

} // namespace

LONG IntuitionIFace::EasyRequestArgs(struct Window *reference, const struct EasyStruct *easyStruct,
                                     ULONG *, const APTR)
{
    std::unique_lock<std::recursive_mutex> guard(GetModelLock());
    RequestText text = {easyStruct->es_Title != nullptr ? easyStruct->es_Title : "Request",
                        easyStruct->es_TextFormat != nullptr ? easyStruct->es_TextFormat : "",
                        SplitText(easyStruct->es_GadgetFormat, '|')};
    HostWindow *referenceWindow = static_cast<HostWindow *>(reference);
    HostScreen &screen =
        referenceWindow != nullptr ? *referenceWindow->screen : *FindPublicScreen(nullptr);
    LONG fontHeight = screen.font.tf_YSize;

    std::vector<std::string> lines = SplitText(text.body.c_str(), '\n');
    LONG textWidth = 0;
    for (const std::string &line : lines)
        textWidth = std::max<LONG>(textWidth, MeasureWidth(line));
    LONG buttonHeight = fontHeight + 6, buttonsWidth = 0;
    for (const std::string &label : text.buttons)
        buttonsWidth += MeasureWidth(label) + 2 * margin;
    buttonsWidth += LONG(text.buttons.size() - 1) * buttonSpacing;
    LONG innerWidth = std::max(textWidth, buttonsWidth) + 2 * margin;
    LONG innerHeight =
        margin / 2 + LONG(lines.size()) * (fontHeight + 2) + margin / 2 + buttonHeight + margin / 2;

    HostWindow *request = CreateHostWindow(screen, 0, 0, innerWidth, innerHeight,
                                           text.title.c_str(), 0, WFLG_DRAGBAR);
    request->request = &text;
    PlaceRequest(*request, referenceWindow, screen);

    struct RastPort &rp = request->rastPort;
    hostGraphicsInterface.SetAPen(&rp, screen.pens[TEXTPEN]);
    hostGraphicsInterface.SetDrMd(&rp, JAM1);
    LONG baseline = request->BorderTop + margin / 2 + rp.TxBaseline;
    for (const std::string &line : lines) {
        hostGraphicsInterface.Move(&rp, request->BorderLeft + margin, baseline);
        hostGraphicsInterface.Text(&rp, line.c_str(), ULONG(line.size()));
        baseline += fontHeight + 2;
    }

    /* The first button at the left edge, the last at the right, the others
       spread between them. */
    std::vector<std::unique_ptr<HostGadget>> buttons;
    size_t count = text.buttons.size();
    LONG rowTop = request->Height - request->BorderBottom - margin / 2 - buttonHeight;
    LONG spare = innerWidth - 2 * margin - (buttonsWidth - LONG(count - 1) * buttonSpacing);
    LONG x = request->BorderLeft + margin;
    struct Gadget **link = &request->FirstGadget;
    for (size_t i = 0; i < count; i++) {
        auto button = std::make_unique<HostGadget>();
        button->kind = BUTTON_KIND;
        button->label = text.buttons[i];
        button->GadgetID = UWORD(i + 1 == count ? 0 : i + 1);
        button->Width = WORD(MeasureWidth(button->label) + 2 * margin);
        button->Height = WORD(buttonHeight);
        button->TopEdge = WORD(rowTop);
        button->LeftEdge =
            WORD(count == 1 ? request->BorderLeft + (innerWidth - button->Width) / 2 : x);
        x += button->Width + (count > 1 ? spare / LONG(count - 1) : 0);
        DrawButton(*request, *button);
        *link = button.get();
        link = &button->NextGadget;
        buttons.push_back(std::move(button));
    }

    hostObjects.requestsShown++;
    guard.unlock();
    UWORD answer = GetPresentation().Ask(*request);
    guard.lock();
    request->FirstGadget = nullptr;
    DestroyHostWindow(request);
    return answer;
}

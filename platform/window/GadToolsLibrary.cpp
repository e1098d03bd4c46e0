#include "../host/HostControls.h"
#include "../system/HostLibraries.h"
#include "Font.h"
#include "HostModel.h"
#include "Presentation.h"
#include "Raster.h"
#include "TextLayout.h"

#include <mutex>

/* gadtools.library: visual info, the context gadget, bevelled buttons with
   their labels centred inside, and the window's message queue. */

struct GadToolsIFace hostGadToolsInterface;

namespace
{

struct VisualInfo {
    struct Screen *screen;
};

} // namespace

void DrawButton(HostWindow &window, HostGadget &gadget)
{
    /* Drawn at once, over what the program has drawn so far. */
    FlushDrawing(window);
    const UWORD *pens = window.screen->pens;
    const struct TextFont &font = window.screen->font;
    LONG left = gadget.LeftEdge, top = gadget.TopEdge;
    LONG right = left + gadget.Width - 1, bottom = top + gadget.Height - 1;
    UBYTE light = UBYTE(pens[gadget.pressed ? SHADOWPEN : SHINEPEN]);
    UBYTE dark = UBYTE(pens[gadget.pressed ? SHINEPEN : SHADOWPEN]);
    FillPixels(window, left, top, right, bottom,
               UBYTE(pens[gadget.pressed ? FILLPEN : BACKGROUNDPEN]), JAM1);
    FillPixels(window, left, top, right, top, light, JAM1);
    FillPixels(window, left, top, left, bottom, light, JAM1);
    FillPixels(window, left + 1, bottom, right, bottom, dark, JAM1);
    FillPixels(window, right, top + 1, right, bottom, dark, JAM1);
    LONG labelWidth = LONG(MeasureTextCells(gadget.label.data(), gadget.label.size())) * FONT_WIDTH;
    /* Unavailable, its label is drawn in the light of the bevel: faded on
       the grey, yet still there for the presentations that read it. */
    UWORD labelPen = gadget.unavailable ? SHINEPEN : gadget.pressed ? FILLTEXTPEN : TEXTPEN;
    TextStyle style = {font.tf_YSize, font.tf_Baseline, UBYTE(pens[labelPen]), 0, JAM1};
    DrawTextPixels(window, left + (gadget.Width - labelWidth) / 2,
                   top + (gadget.Height - font.tf_YSize) / 2 + font.tf_Baseline,
                   gadget.label.data(), ULONG(gadget.label.size()), style);
}

void SetButtonsAvailable(bool available)
{
    for (HostWindow *window : GetOpenWindows()) {
        if (window->request != nullptr)
            continue;
        for (HostGadget *button : ListButtons(*window)) {
            button->unavailable = !available;
            DrawButton(*window, *button);
        }
    }
}

APTR GadToolsIFace::GetVisualInfoA(struct Screen *screen, const struct TagItem *)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (screen == nullptr || IsHostCallFailing("GetVisualInfo"))
        return nullptr;
    hostObjects.visualInfos++;
    return new VisualInfo{screen};
}

void GadToolsIFace::FreeVisualInfo(APTR visualInfo)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (visualInfo == nullptr)
        return;
    delete static_cast<VisualInfo *>(visualInfo);
    hostObjects.visualInfos--;
}

struct Gadget *GadToolsIFace::CreateContext(struct Gadget **list)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (IsHostCallFailing("CreateContext"))
        return nullptr;
    HostGadget *context = new HostGadget{};
    context->kind = GENERIC_KIND;
    hostObjects.gadgets++;
    *list = context;
    return context;
}

struct Gadget *GadToolsIFace::CreateGadgetA(ULONG kind, struct Gadget *previous,
                                            const struct NewGadget *newGadget,
                                            const struct TagItem *)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    /* Like GadTools, a failure earlier in the chain makes every later
       CreateGadget fail too, so that only the end result needs checking. */
    if (previous == nullptr || newGadget == nullptr || kind != BUTTON_KIND ||
        IsHostCallFailing("CreateGadget"))
        return nullptr;
    HostGadget *gadget = new HostGadget{};
    gadget->kind = kind;
    gadget->LeftEdge = newGadget->ng_LeftEdge;
    gadget->TopEdge = newGadget->ng_TopEdge;
    gadget->Width = newGadget->ng_Width;
    gadget->Height = newGadget->ng_Height;
    gadget->GadgetID = newGadget->ng_GadgetID;
    gadget->UserData = newGadget->ng_UserData;
    gadget->label = newGadget->ng_GadgetText != nullptr ? newGadget->ng_GadgetText : "";
    previous->NextGadget = gadget;
    hostObjects.gadgets++;
    return gadget;
}

void GadToolsIFace::FreeGadgets(struct Gadget *list)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    while (list != nullptr) {
        struct Gadget *next = list->NextGadget;
        delete static_cast<HostGadget *>(list);
        hostObjects.gadgets--;
        list = next;
    }
}

void GadToolsIFace::GT_RefreshWindow(struct Window *window, struct Requester *)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    HostWindow &host = *static_cast<HostWindow *>(window);
    for (HostGadget *button : ListButtons(host))
        DrawButton(host, *button);
    GetPresentation().Refresh(host, true);
}

struct IntuiMessage *GadToolsIFace::GT_GetIMsg(struct MsgPort *port)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    HostWindow *window = FindWindowOfPort(port);
    hostObjects.messageLooks++;
    unsigned long abortAt = GetHostControls().abortAt;
    if (window != nullptr && abortAt != 0 && hostObjects.messageLooks == abortAt) {
        std::vector<HostGadget *> buttons = ListButtons(*window);
        if (!buttons.empty())
            ReleaseGadget(*window, *buttons.front());
    }
    GetPresentation().CheckInput();
    struct Message *message = port->mp_First;
    if (message == nullptr)
        return nullptr;
    port->mp_First = reinterpret_cast<struct Message *>(message->mn_Node.ln_Succ);
    if (port->mp_First == nullptr)
        port->mp_Last = nullptr;
    message->mn_Node.ln_Succ = nullptr;
    return reinterpret_cast<struct IntuiMessage *>(message);
}

void GadToolsIFace::GT_ReplyIMsg(struct IntuiMessage *message)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (message == nullptr)
        return;
    delete message;
    hostObjects.messages--;
}

void GadToolsIFace::GT_BeginRefresh(struct Window *)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    hostObjects.refreshesBegun++;
}

void GadToolsIFace::GT_EndRefresh(struct Window *, LONG)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    hostObjects.refreshesEnded++;
}

#include "../host/HostControls.h"
#include "../system/HostLibraries.h"
#include "Font.h"
#include "HostModel.h"
#include "Presentation.h"
#include "Raster.h"
#include "TextLayout.h"

#include <algorithm>
#include <mutex>

/* Intuition's windows: a frame with a title bar around the inner area, a
   RastPort over the whole window, and a message port for its IDCMP. */

struct IntuitionIFace hostIntuitionInterface;

namespace
{

std::vector<HostWindow *> openWindows;

void DrawWindowFrame(HostWindow &window)
{
    const UWORD *pens = window.screen->pens;
    LONG right = window.Width - 1, bottom = window.Height - 1;
    FillPixels(window, 0, 0, right, bottom, UBYTE(pens[BACKGROUNDPEN]), JAM1);
    FillPixels(window, 0, 0, right, 0, UBYTE(pens[SHINEPEN]), JAM1);
    FillPixels(window, 0, 0, 0, bottom, UBYTE(pens[SHINEPEN]), JAM1);
    FillPixels(window, 0, bottom, right, bottom, UBYTE(pens[SHADOWPEN]), JAM1);
    FillPixels(window, right, 0, right, bottom, UBYTE(pens[SHADOWPEN]), JAM1);
    if (window.BorderTop <= window.screen->WBorTop)
        return;
    LONG barBottom = window.BorderTop - 2;
    FillPixels(window, 1, 1, right - 1, barBottom, UBYTE(pens[FILLPEN]), JAM1);
    FillPixels(window, 1, barBottom + 1, right - 1, barBottom + 1, UBYTE(pens[SHADOWPEN]), JAM1);
    const struct TextFont &font = window.screen->font;
    LONG textTop = 1 + (barBottom - font.tf_YSize) / 2;
    ULONG cells = ULONG(std::max<LONG>(0, (window.Width - 2 * window.BorderLeft) / FONT_WIDTH));
    const std::string &whole = window.title;
    size_t shown = FitTextBytes(whole.data(), whole.size(), false, cells);
    DrawTextPixels(window, window.BorderLeft + 2, textTop + font.tf_Baseline, whole.data(),
                   ULONG(shown),
                   {font.tf_YSize, font.tf_Baseline, UBYTE(pens[FILLTEXTPEN]), 0, JAM1});
}

} // namespace

HostWindow *CreateHostWindow(HostScreen &screen, LONG left, LONG top, LONG innerWidth,
                             LONG innerHeight, const char *title, ULONG idcmp, ULONG flags)
{
    HostWindow *window = new HostWindow{};
    window->screen = &screen;
    window->WScreen = &screen;
    window->title = title != nullptr ? title : "";
    window->Title = window->title.c_str();
    window->IDCMPFlags = idcmp;
    window->Flags = flags;
    bool titled = title != nullptr || (flags & WFLG_DRAGBAR);
    window->BorderLeft = screen.WBorLeft;
    window->BorderRight = screen.WBorRight;
    window->BorderBottom = screen.WBorBottom;
    window->BorderTop = BYTE(titled ? screen.WBorTop + screen.font.tf_YSize + 1 : screen.WBorTop);
    window->Width = WORD(std::max<LONG>(1, innerWidth + window->BorderLeft + window->BorderRight));
    window->Height =
        WORD(std::max<LONG>(1, innerHeight + window->BorderTop + window->BorderBottom));
    /* Like Intuition, keep the window on its screen where it fits. */
    window->LeftEdge = WORD(std::max<LONG>(0, std::min<LONG>(left, screen.Width - window->Width)));
    window->TopEdge = WORD(std::max<LONG>(0, std::min<LONG>(top, screen.Height - window->Height)));
    window->pixels.assign(size_t(window->Width) * size_t(window->Height), 0);
    window->bitMap = {UWORD(window->Width), UWORD(window->Height), 0, screen.depth,
                      window->pixels.data()};
    struct RastPort &rp = window->rastPort;
    rp.BitMap = &window->bitMap;
    rp.FgPen = 1;
    rp.BgPen = 0;
    rp.DrawMode = JAM2;
    rp.Font = &screen.font;
    rp.TxHeight = screen.font.tf_YSize;
    rp.TxWidth = screen.font.tf_XSize;
    rp.TxBaseline = screen.font.tf_Baseline;
    rp.Host = window;
    window->RPort = &rp;
    window->UserPort = &window->port;
    DrawWindowFrame(*window);
    openWindows.push_back(window);
    hostObjects.windows++;
    return window;
}

void DestroyHostWindow(HostWindow *window)
{
    while (struct Message *message = window->port.mp_First) {
        window->port.mp_First = reinterpret_cast<struct Message *>(message->mn_Node.ln_Succ);
        delete reinterpret_cast<struct IntuiMessage *>(message);
        hostObjects.messages--;
    }
    openWindows.erase(std::find(openWindows.begin(), openWindows.end(), window));
    hostObjects.windows--;
    delete window;
}

const std::vector<HostWindow *> &GetOpenWindows()
{
    return openWindows;
}

HostWindow *FindWindowOfPort(const struct MsgPort *port)
{
    for (HostWindow *window : openWindows)
        if (&window->port == port)
            return window;
    return nullptr;
}

void QueueIntuiMessage(HostWindow &window, ULONG messageClass, HostGadget *gadget)
{
    struct IntuiMessage *message = new IntuiMessage{};
    message->Class = messageClass;
    message->IAddress = static_cast<struct Gadget *>(gadget);
    message->IDCMPWindow = &window;
    message->ExecMessage.mn_Length = sizeof(struct IntuiMessage);
    struct MsgPort &port = window.port;
    if (port.mp_Last != nullptr)
        port.mp_Last->mn_Node.ln_Succ = &message->ExecMessage.mn_Node;
    else
        port.mp_First = &message->ExecMessage;
    port.mp_Last = &message->ExecMessage;
    hostObjects.messages++;
}

void ReleaseGadget(HostWindow &window, HostGadget &gadget)
{
    if (window.IDCMPFlags & IDCMP_GADGETUP)
        QueueIntuiMessage(window, IDCMP_GADGETUP, &gadget);
}

std::vector<HostGadget *> ListButtons(HostWindow &window)
{
    std::vector<HostGadget *> buttons;
    for (struct Gadget *gadget = window.FirstGadget; gadget != nullptr;
         gadget = gadget->NextGadget) {
        HostGadget *host = static_cast<HostGadget *>(gadget);
        if (host->kind == BUTTON_KIND)
            buttons.push_back(host);
    }
    return buttons;
}

HostGadget *FindGadgetAt(HostWindow &window, LONG x, LONG y)
{
    for (HostGadget *gadget : ListButtons(window))
        if (x >= gadget->LeftEdge && x < gadget->LeftEdge + gadget->Width && y >= gadget->TopEdge &&
            y < gadget->TopEdge + gadget->Height)
            return gadget;
    return nullptr;
}

struct Window *IntuitionIFace::OpenWindowTagList(const struct NewWindow *,
                                                 const struct TagItem *tags)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    LONG left = 0, top = 0, innerWidth = 200, innerHeight = 100;
    ULONG idcmp = 0, flags = 0;
    const char *title = nullptr;
    struct Screen *screen = nullptr;
    struct Gadget *gadgets = nullptr;
    for (const struct TagItem *tag = tags; tag != nullptr && tag->ti_Tag != TAG_DONE; tag++) {
        switch (tag->ti_Tag) {
        case WA_Left:
            left = WORD(tag->ti_Data);
            break;
        case WA_Top:
            top = WORD(tag->ti_Data);
            break;
        case WA_InnerWidth:
            innerWidth = WORD(tag->ti_Data);
            break;
        case WA_InnerHeight:
            innerHeight = WORD(tag->ti_Data);
            break;
        case WA_IDCMP:
            idcmp = ULONG(tag->ti_Data);
            break;
        case WA_Flags:
            flags = ULONG(tag->ti_Data);
            break;
        case WA_Title:
            title = reinterpret_cast<const char *>(tag->ti_Data);
            break;
        case WA_PubScreen:
            screen = reinterpret_cast<struct Screen *>(tag->ti_Data);
            break;
        case WA_Gadgets:
            gadgets = reinterpret_cast<struct Gadget *>(tag->ti_Data);
            break;
        default:
            break;
        }
    }
    if (IsHostCallFailing("OpenWindowTags"))
        return nullptr;
    HostScreen *host =
        screen != nullptr ? static_cast<HostScreen *>(screen) : FindPublicScreen(nullptr);
    HostWindow *window =
        CreateHostWindow(*host, left, top, innerWidth, innerHeight, title, idcmp, flags);
    window->FirstGadget = gadgets;
    GetPresentation().ShowWindow(*window);
    return window;
}

void IntuitionIFace::CloseWindow(struct Window *window)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (window == nullptr)
        return;
    HostWindow *host = static_cast<HostWindow *>(window);
    FinishDrawing(*host);
    GetPresentation().HideWindow(*host);
    DestroyHostWindow(host);
}

std::recursive_mutex &GetModelLock()
{
    static std::recursive_mutex lock;
    return lock;
}

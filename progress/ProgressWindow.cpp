#include "ProgressWindow.h"

#include "progress.h"

struct Window *window;
APTR vis;
struct Gadget *glist;
struct Gadget *gad;
WORD x, y, w, h;
WORD gx, gy, gw, gh;
UWORD pens[NUMDRIPENS];

/* The window's size and place: a third of the screen wide (at least 300),
   ten font heights tall, at the lower left. */
static void ComputeWindowLayout(const struct Screen *screen)
{
    UWORD fontHeight = screen->Font->ta_YSize;
    w = (WORD)(screen->Width / 3);
    if (w <= 299)
        w = 300;
    h = (WORD)(10 * fontHeight);
    x = 14;
    y = (WORD)((UWORD)screen->Height - 30 - h);
}

/* The gauges, the button and the message line share the left edge and the
   width, 3 pixels clear of the inner area's sides. */
static void ComputeGaugeLayout(const struct Screen *screen)
{
    UWORD fontHeight = screen->Font->ta_YSize;
    gx = (WORD)(screen->WBorLeft + 3);
    gy = (WORD)(4 * fontHeight + screen->WBorTop);
    gw = (WORD)(w - 6);
    gh = (WORD)(fontHeight + fontHeight / 2);
}

int InitInterface(void)
{
    struct Screen *screen = IIntuition->LockPubScreen("INSTALLER");
    if (screen == NULL)
        screen = IIntuition->LockPubScreen(NULL);
    if (screen == NULL)
        return 0;
    ComputeWindowLayout(screen);

    vis = IGadTools->GetVisualInfo(screen, TAG_END);
    if (vis == NULL) {
        IIntuition->UnlockPubScreen(NULL, screen);
        return 0;
    }
    ComputeGaugeLayout(screen);
    struct NewGadget button = {};
    button.ng_LeftEdge = gx;
    button.ng_TopEdge = (WORD)(h - gh);
    button.ng_Width = gw;
    button.ng_Height = gh;
    button.ng_GadgetText = "Abort";
    button.ng_TextAttr = screen->Font;
    button.ng_GadgetID = 1;
    button.ng_Flags = PLACETEXT_IN;
    button.ng_VisualInfo = vis;
    button.ng_UserData = NULL;

    glist = NULL;
    gad = IGadTools->CreateContext(&glist);
    if (gad == NULL) {
        IIntuition->UnlockPubScreen(NULL, screen);
        return 0;
    }
    gad = IGadTools->CreateGadget(BUTTON_KIND, glist, &button, TAG_END);
    if (gad == NULL) {
        IIntuition->UnlockPubScreen(NULL, screen);
        return 0;
    }

    struct DrawInfo *drawInfo = IIntuition->GetScreenDrawInfo(screen);
    for (int i = 0; i < NUMDRIPENS; i++)
        pens[i] = drawInfo != NULL ? drawInfo->dri_Pens[i] : 1;
    if (drawInfo != NULL)
        IIntuition->FreeScreenDrawInfo(screen, drawInfo);

    window = IIntuition->OpenWindowTags(
        NULL, WA_Top, y, WA_Left, x, WA_InnerWidth, w, WA_InnerHeight, h, WA_IDCMP, IDCMP_GADGETUP,
        WA_Flags, WFLG_DRAGBAR | WFLG_ACTIVATE | WFLG_RMBTRAP, WA_Title, "Unpacking...",
        WA_PubScreen, screen, WA_Gadgets, glist, TAG_DONE);
    IIntuition->UnlockPubScreen(NULL, screen);
    if (window == NULL)
        return 0;
    IGadTools->GT_RefreshWindow(window, NULL);
    DrawGauge(0, 0);
    DrawGauge(0, 1);
    return 1;
}

/* Window first, then the gadgets it showed, then the visual info they were
   made with; whatever a failed InitInterface left is cleared too. */
void CloseInterface(void)
{
    if (window != NULL)
        IIntuition->CloseWindow(window);
    window = NULL;
    if (glist != NULL)
        IGadTools->FreeGadgets(glist);
    glist = NULL;
    if (vis != NULL)
        IGadTools->FreeVisualInfo(vis);
    vis = NULL;
}

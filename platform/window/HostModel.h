#ifndef PLATFORM_HOST_MODEL_H
#define PLATFORM_HOST_MODEL_H

/* The software model behind Intuition, GadTools and Graphics: screens,
   windows with a pen-indexed pixel buffer, gadgets and message queues. The
   presentations (Presentation.h) show it to a person. */

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <proto/gadtools.h>
#include <proto/graphics.h>
#include <proto/intuition.h>

#include "DrawingQueue.h"

struct Colour {
    UBYTE red, green, blue;
};

struct HostScreen : Screen {
    const char *publicName; /* "INSTALLER", or null for the default public screen */
    unsigned locks;
    struct TextAttr fontAttr;
    struct TextFont font;
    UWORD pens[NUMDRIPENS + 1];
    struct DrawInfo drawInfo;
    UBYTE depth;
    Colour palette[8];
};

/* Text drawn into a window and still visible: the presentations that show
   a window as text read it. bytes holds whole characters (UTF-8 where the
   text is); width is the pixels they took. */
struct TextRun {
    WORD x;
    WORD baseline;
    std::string bytes;
    LONG width;
};

struct HostGadget : Gadget {
    ULONG kind;
    std::string label;
    bool pressed;
    bool unavailable; /* shown faded, and deaf to the person */
};

/* What a request window asks; answer is the result of the chosen button. */
struct RequestText {
    std::string title;
    std::string body;
    std::vector<std::string> buttons;
    /* For a request whose text is longer than it shows: moves the text by
       lines (negative towards its start) and draws it again into the
       window's pixels; called with the model lock held. page is how many
       lines it shows. */
    std::function<void(HostWindow &window, int lines)> scroll = nullptr;
    int page = 0;
    /* A press of the mouse's first button at (x, y) in the window, where
       there is no button: true when the request took it (a click beside a
       scroll bar's knob); called with the model lock held. */
    std::function<bool(HostWindow &window, LONG x, LONG y)> press = nullptr;
};

struct HostWindow : Window {
    struct RastPort rastPort;
    struct BitMap bitMap;
    struct MsgPort port;
    std::vector<UBYTE> pixels;
    std::vector<TextRun> texts;
    /* The whole text last measured with TextFit, before any cut, and
       whether the measure kept its end rather than its start. */
    std::string laidOutText;
    bool laidOutFromEnd;
    /* Drawing not yet in pixels (DrawingQueue.h): queued by the program's
       thread alone, then handed over to the model; and the text measured
       since the last hand-over. */
    DrawingList queued;
    DrawingList published;
    std::string measuredText;
    bool measuredFromEnd;
    bool measuredChanged;
    std::string title;
    HostScreen *screen;
    bool dirty;
    const RequestText *request; /* set for a request window */
    void *shown;                /* the presentation's own record of the window */
};

/* Objects handed out and not yet given back, for the balance report. */
struct HostObjectCounts {
    unsigned screenLocks;
    unsigned drawInfos;
    unsigned windows;
    unsigned visualInfos;
    unsigned gadgets;
    unsigned messages;
    unsigned refreshesBegun;
    unsigned refreshesEnded;
    unsigned requestsShown;
    unsigned messageLooks;
};
extern HostObjectCounts hostObjects;

/* One lock guards the whole model: the program's Intuition, GadTools and
   Graphics calls take it, and so does a presentation that reads the model
   from a thread of its own. */
std::recursive_mutex &GetModelLock();

/* Screens. */
HostScreen *FindPublicScreen(const char *name);

/* Windows. */
HostWindow *CreateHostWindow(HostScreen &screen, LONG left, LONG top, LONG innerWidth,
                             LONG innerHeight, const char *title, ULONG idcmp, ULONG flags);
void DestroyHostWindow(HostWindow *window);
const std::vector<HostWindow *> &GetOpenWindows();
HostWindow *FindWindowOfPort(const struct MsgPort *port);
void QueueIntuiMessage(HostWindow &window, ULONG messageClass, HostGadget *gadget);
/* A press and release of a gadget by the person: a gadget-up message, if the
   window asked for those. */
void ReleaseGadget(HostWindow &window, HostGadget &gadget);
HostGadget *FindGadgetAt(HostWindow &window, LONG x, LONG y);
std::vector<HostGadget *> ListButtons(HostWindow &window);

/* A button drawn at once into the window's pixels (Raster.h), over what
   the program has drawn so far. */
void DrawButton(HostWindow &window, HostGadget &gadget);

/* The buttons of the open windows other than requests made unavailable,
   or available again, and drawn so. */
void SetButtonsAvailable(bool available);

#endif

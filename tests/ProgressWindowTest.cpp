#include <algorithm>
#include <ostream>
#include <string>

#include "../platform/host/HostControls.h"
#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/ModelWindow.h"

namespace
{

using ProgressWindow = ModelWindowTest;

TEST_F(ProgressWindow, OpensWithItsTitleButtonAndMessagesOnTheDefaultScreen)
{
    UseScreen(640, 256, 8);
    OpenProgressWindow();
    /* The window as opened: place, inner size, IDCMP, title. */
    EXPECT_EQ(window->LeftEdge, 14);
    EXPECT_EQ(window->TopEdge, 146);
    EXPECT_EQ(window->Width - window->BorderLeft - window->BorderRight, 300);
    EXPECT_EQ(window->Height - window->BorderTop - window->BorderBottom, 80);
    EXPECT_EQ(window->IDCMPFlags, IDCMP_GADGETUP);
    EXPECT_STREQ(window->Title, "Unpacking...");
    EXPECT_EQ(window->FirstGadget, glist);

    ASSERT_NE(glist->NextGadget, nullptr);
    const HostGadget &button = *static_cast<HostGadget *>(glist->NextGadget);
    EXPECT_EQ(&button, gad);
    EXPECT_EQ(button.label, "Abort");
    EXPECT_EQ(button.GadgetID, 1);
    EXPECT_EQ(hostObjects.screenLocks, 0u) << "the screen stays locked after the window opened";
}

/* On any screen the window stays on it, and the button spans the window
   above its bottom edge, in a height that follows the font. */
TEST_F(ProgressWindow, WindowAndButtonFitEveryScreen)
{
    struct Screen {
        long width, height, fontHeight;
    };
    for (Screen screen : {Screen{320, 200, 8}, Screen{903, 600, 8}, Screen{1920, 1080, 9},
                          Screen{3840, 2160, 16}}) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
        UseScreen(screen.width, screen.height, screen.fontHeight);
        OpenProgressWindow();
        EXPECT_GE(window->LeftEdge, 0);
        EXPECT_GE(window->TopEdge, 0);
        EXPECT_LE(window->LeftEdge + window->Width, screen.width);
        EXPECT_LE(window->TopEdge + window->Height, screen.height);
        const HostGadget &button = *static_cast<HostGadget *>(gad);
        WORD margin = WORD(button.LeftEdge - window->BorderLeft);
        EXPECT_GT(margin, 0);
        EXPECT_EQ(margin + button.Width + margin, w) << "centred in the window";
        EXPECT_EQ(button.TopEdge + button.Height, h) << "at the window's bottom";
        EXPECT_GT(button.Height, screen.fontHeight);
        CloseInterface();
    }
}

TEST_F(ProgressWindow, OpensOnTheInstallerScreenWhenThereIsOne)
{
    GetHostControls().installerScreen = {true, 1024, 768, 8};
    OpenProgressWindow();
    EXPECT_STREQ(window->WScreen->Title, "INSTALLER");
    EXPECT_EQ(w, 341);
    EXPECT_EQ(y, 658);
}

TEST_F(ProgressWindow, OpensWithBothGaugesEmptyAndTheButtonDrawn)
{
    OpenProgressWindow();
    /* The inside of each gauge holds nothing but the background and the label. */
    for (int index = 0; index < 2; index++) {
        WORD top = WORD(gy + index * (gh + 4));
        for (UBYTE pixel : Pixels(gx + 1, top + 1, gx + gw - 2, top + gh - 1))
            EXPECT_TRUE(pixel == 0 || pixel == 7) << int(pixel);
        EXPECT_EQ(Pixel(gx + 1, top + 1), 0);
    }
    /* The button: a bevel and a label inside it. */
    std::vector<UBYTE> inside = Pixels(gx + 1, h - gh + 1, gx + gw - 2, h - 2);
    EXPECT_NE(std::count(inside.begin(), inside.end(), pens[TEXTPEN]), 0);
    EXPECT_EQ(Pixel(gx, h - gh), pens[SHINEPEN]);
    EXPECT_EQ(Pixel(gx + gw - 1, h - 1), pens[SHADOWPEN]);
}

/* Whichever step fails, InitInterface answers 0, leaves no screen locked and
   no window open, and CloseInterface gives back what the earlier steps made. */
TEST_F(ProgressWindow, EachFailingStepLeavesOnlyWhatCloseInterfaceClears)
{
    struct Step {
        const char *call;
        bool visualInfoLeft, gadgetsLeft;
    };
    for (const Step &step :
         {Step{"LockPubScreen", false, false}, Step{"GetVisualInfo", false, false},
          Step{"CreateContext", true, false}, Step{"CreateGadget", true, true},
          Step{"OpenWindowTags", true, true}}) {
        SCOPED_TRACE(step.call);
        GetHostControls().failingCalls = step.call;
        EXPECT_EQ(InitInterface(), 0);
        EXPECT_EQ(window, nullptr);
        EXPECT_EQ(hostObjects.screenLocks, 0u);
        EXPECT_EQ(vis != nullptr, step.visualInfoLeft);
        EXPECT_EQ(glist != nullptr, step.gadgetsLeft);
        CloseInterface();
        EXPECT_EQ(hostObjects.visualInfos, 0u);
        EXPECT_EQ(hostObjects.gadgets, 0u);
        EXPECT_EQ(vis, nullptr);
        EXPECT_EQ(glist, nullptr);
    }
}

TEST_F(ProgressWindow, ClosingTwiceDoesNothingMore)
{
    OpenProgressWindow();
    CloseInterface();
    EXPECT_EQ(hostObjects.windows, 0u);
    CloseInterface();
    EXPECT_EQ(hostObjects.windows, 0u);
    EXPECT_EQ(hostObjects.gadgets, 0u);
    EXPECT_EQ(hostObjects.visualInfos, 0u);
}

TEST_F(ProgressWindow, WithoutDrawInfoEveryPenIsOne)
{
    GetHostControls().failingCalls = "GetScreenDrawInfo";
    OpenProgressWindow();
    for (UWORD pen : pens)
        EXPECT_EQ(pen, 1);
    DrawGauge(100, 0);
    EXPECT_EQ(Pixel(gx, gy), 1);               /* shadow edge */
    EXPECT_EQ(Pixel(gx + gw - 1, gy + gh), 1); /* shine edge */
    EXPECT_EQ(Pixel(gx + 1, gy + 1), 1);       /* bar */
    EXPECT_EQ(hostObjects.drawInfos, 0u);
}

} // namespace

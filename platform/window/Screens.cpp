#include "../host/HostControls.h"
#include "HostModel.h"
#include "Presentation.h"

#include <cstring>
#include <mutex>

#include "Font.h"

/* The public screens: the default one, and "INSTALLER" when the host offers
   it. A screen that nobody has locked is built afresh from the host's
   settings at its next lock. */

HostObjectCounts hostObjects;

namespace
{

HostScreen defaultScreen;
HostScreen installerScreen;

/* DrawInfo pens of an eight-colour screen: grey background, black text and
   shadows, white shine, blue fill, and highlighted text (error lines) in a
   dark red that reads well on the grey. */
const UWORD screenPens[NUMDRIPENS + 1] = {0, 1, 1, 2, 1, 3, 2, 0, 5, UWORD(~0)};

/* Chosen so that the complement of each colour (pen number XOR 7) stands out
   against it: labels drawn in complement stay legible over bar and ground.
   Colour 5, the highlight, has a contrast of 4.7 to 1 with the grey. */
const Colour screenPalette[8] = {
    {0xAA, 0xAA, 0xAA}, {0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF}, {0x55, 0x77, 0xAA},
    {0xFF, 0xEE, 0x99}, {0x80, 0x00, 0x00}, {0xDD, 0xDD, 0xDD}, {0x22, 0x22, 0x44},
};

void BuildScreen(HostScreen &screen, const char *publicName, LONG width, LONG height,
                 LONG fontHeight)
{
    screen = HostScreen{};
    screen.publicName = publicName;
    screen.Width = WORD(width);
    screen.Height = WORD(height);
    screen.WBorTop = 2;
    screen.WBorLeft = 4;
    screen.WBorRight = 4;
    screen.WBorBottom = 2;
    screen.BarHeight = BYTE(fontHeight + 2);
    screen.Title = publicName != nullptr ? publicName : "Workbench Screen";
    screen.font = {"velorin.font", UWORD(fontHeight), FONT_WIDTH, UWORD(fontHeight - 2)};
    screen.fontAttr = {"velorin.font", UWORD(fontHeight), 0, 0};
    screen.Font = &screen.fontAttr;
    std::memcpy(screen.pens, screenPens, sizeof screen.pens);
    screen.drawInfo = {2, NUMDRIPENS, screen.pens, &screen.font, 3};
    screen.depth = 3;
    std::memcpy(screen.palette, screenPalette, sizeof screen.palette);
}

bool IsScreenInUse(const HostScreen &screen)
{
    if (screen.locks > 0)
        return true;
    for (const HostWindow *window : GetOpenWindows())
        if (window->screen == &screen)
            return true;
    return false;
}

} // namespace

HostScreen *FindPublicScreen(const char *name)
{
    const HostControls &controls = GetHostControls();
    if (name == nullptr) {
        if (!IsScreenInUse(defaultScreen)) {
            LONG width = 640, height = 256;
            if (controls.screen.given) {
                width = controls.screen.width;
                height = controls.screen.height;
            } else {
                GetPresentation().GetDisplaySize(width, height);
            }
            BuildScreen(defaultScreen, nullptr, width, height, controls.screen.fontHeight);
        }
        return &defaultScreen;
    }
    if (std::strcmp(name, "INSTALLER") != 0 || !controls.installerScreen.given)
        return nullptr;
    if (!IsScreenInUse(installerScreen))
        BuildScreen(installerScreen, "INSTALLER", controls.installerScreen.width,
                    controls.installerScreen.height, controls.installerScreen.fontHeight);
    return &installerScreen;
}

struct Screen *IntuitionIFace::LockPubScreen(CONST_STRPTR name)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (IsHostCallFailing("LockPubScreen"))
        return nullptr;
    HostScreen *screen = FindPublicScreen(name);
    if (screen == nullptr)
        return nullptr;
    screen->locks++;
    hostObjects.screenLocks++;
    return screen;
}

void IntuitionIFace::UnlockPubScreen(CONST_STRPTR, struct Screen *screen)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (screen == nullptr)
        return;
    static_cast<HostScreen *>(screen)->locks--;
    hostObjects.screenLocks--;
}

struct DrawInfo *IntuitionIFace::GetScreenDrawInfo(struct Screen *screen)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (screen == nullptr || IsHostCallFailing("GetScreenDrawInfo"))
        return nullptr;
    hostObjects.drawInfos++;
    return &static_cast<HostScreen *>(screen)->drawInfo;
}

void IntuitionIFace::FreeScreenDrawInfo(struct Screen *, struct DrawInfo *drawInfo)
{
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    if (drawInfo != nullptr)
        hostObjects.drawInfos--;
}

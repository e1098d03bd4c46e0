#include "DesktopPresentation.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "../../text/EscapedText.h"

/* The model's windows brought onto the display: created, drawn again
   when their pixels change, and destroyed when they close. The model is
   read under its lock; the display is talked to outside it.

   Lock order: the model lock, then wakeLock_. */

namespace
{

/* Titles are shown as the model draws text: UTF-8 as characters, other
   bytes escaped. */
std::string ToShownTitle(const std::string &title)
{
    return EscapedText(title);
}

} // namespace

void DesktopPresentation::ForgetWindows()
{
    std::vector<ShownXWindow *> forgotten;
    {
        ModelGuard guard(GetModelLock());
        for (ShownXWindow *shown : windows_)
            if (shown->window != nullptr)
                shown->window->shown = nullptr;
        forgotten.swap(windows_);
    }
    for (ShownXWindow *shown : forgotten) {
        DestroyShown(*shown);
        delete shown;
    }
    xcb_flush(display_.connection);
}

void DesktopPresentation::ShowChanges()
{
    /* Each window, and whether the program has closed it. */
    std::vector<std::pair<ShownXWindow *, bool>> current;
    {
        ModelGuard guard(GetModelLock());
        for (ShownXWindow *shown : windows_) {
            HostWindow *window = shown->window;
            if (shown->closing) {
                shown->frame.swap(shown->finalPixels);
                shown->fresh = true;
                current.emplace_back(shown, true);
                continue;
            }
            FlushDrawing(*window);
            if (window->dirty || shown->id == 0) {
                shown->frame = window->pixels;
                shown->fresh = true;
                window->dirty = false;
            }
            if (shown->id == 0 && !shown->closing)
                Describe(*shown, *window);
            current.emplace_back(shown, shown->closing);
        }
    }
    for (auto [shown, closing] : current) {
        if (shown->id == 0 && !closing)
            Create(*shown);
        if (shown->fresh)
            Present(*shown);
        if (closing)
            Forget(shown);
    }
}

void DesktopPresentation::Describe(ShownXWindow &shown, HostWindow &window)
{
    shown.width = window.Width;
    shown.height = window.Height;
    shown.borderTop = window.BorderTop;
    std::memcpy(shown.palette, window.screen->palette, sizeof shown.palette);
    shown.look = {int16_t(display_.areaX + window.LeftEdge * scale_),
                  int16_t(display_.areaY + window.TopEdge * scale_),
                  uint16_t(window.Width * scale_),
                  uint16_t(window.Height * scale_),
                  ToShownTitle(window.title),
                  shown.modal,
                  0};
}

void DesktopPresentation::Create(ShownXWindow &shown)
{
    for (ShownXWindow *other : windows_)
        if (shown.modal && other != &shown && other->id != 0 && !other->modal)
            shown.look.owner = other->id;
    shown.id = CreateXWindow(display_, shown.look);
    shown.context = xcb_generate_id(display_.connection);
    xcb_create_gc(display_.connection, shown.context, shown.id, 0, nullptr);
}

void DesktopPresentation::Present(ShownXWindow &shown)
{
    shown.fresh = false;
    uint32_t colours[256] = {};
    for (int pen = 0; pen < 8; pen++) {
        const Colour &colour = shown.palette[pen];
        colours[pen] = MakePixel(display_, colour.red, colour.green, colour.blue);
    }
    PutXWindowPixels(display_, shown.id, shown.context, shown.frame, shown.width, shown.height,
                     scale_, colours, image_);
}

void DesktopPresentation::DestroyShown(ShownXWindow &shown)
{
    if (shown.id == 0)
        return;
    xcb_free_gc(display_.connection, shown.context);
    xcb_destroy_window(display_.connection, shown.id);
    shown.id = 0;
}

void DesktopPresentation::Forget(ShownXWindow *shown)
{
    DestroyShown(*shown);
    ModelGuard guard(GetModelLock());
    windows_.erase(std::find(windows_.begin(), windows_.end(), shown));
    delete shown;
}

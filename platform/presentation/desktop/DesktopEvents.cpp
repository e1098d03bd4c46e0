#include "DesktopPresentation.h"
#include "ScrollKeys.h"

#include <cctype>

/* The display's events: the person's clicks, keys and wheel, the window
   manager's requests, and windows destroyed from outside. Each event is
   handled under the model lock.

   Lock order: the model lock, then wakeLock_. */

ShownXWindow *DesktopPresentation::FindShown(xcb_window_t id) const
{
    for (ShownXWindow *shown : windows_)
        if (shown->id != 0 && shown->id == id)
            return shown;
    return nullptr;
}

void DesktopPresentation::Choose(HostWindow &window, HostGadget &button)
{
    if (button.unavailable)
        return;
    if (&window == asking_) {
        Answer(button.GadgetID);
    } else if (asking_ == nullptr) {
        ReleaseGadget(window, button);
    }
}

void DesktopPresentation::Answer(int answer)
{
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        answer_ = answer;
    }
    wakeup_.notify_all();
}

void DesktopPresentation::Handle(const xcb_generic_event_t &event)
{
    ModelGuard guard(GetModelLock());
    switch (event.response_type & 0x7F) {
    case 0: {
        /* A failed request on one of the windows means another program
           destroyed it. */
        const auto &error = reinterpret_cast<const xcb_generic_error_t &>(event);
        if (FindShown(error.resource_id) != nullptr)
            LoseWindow();
        break;
    }
    case XCB_DESTROY_NOTIFY:
        if (FindShown(reinterpret_cast<const xcb_destroy_notify_event_t &>(event).window))
            LoseWindow();
        break;
    case XCB_EXPOSE:
        if (ShownXWindow *shown =
                FindShown(reinterpret_cast<const xcb_expose_event_t &>(event).window))
            shown->fresh = true;
        break;
    case XCB_REPARENT_NOTIFY: {
        const auto &reparent = reinterpret_cast<const xcb_reparent_notify_event_t &>(event);
        if (ShownXWindow *shown = FindShown(reparent.window))
            shown->reparented = reparent.parent != display_.screen->root;
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        /* Where it now stands on the root: told by the window itself
           when it has no frame around it, else by the window manager. */
        const auto &configure = reinterpret_cast<const xcb_configure_notify_event_t &>(event);
        ShownXWindow *shown = FindShown(configure.window);
        bool onRoot = (event.response_type & 0x80) != 0 || (shown && !shown->reparented);
        if (shown != nullptr && shown->window != nullptr && onRoot) {
            shown->window->LeftEdge = WORD((configure.x - display_.areaX) / scale_);
            shown->window->TopEdge = WORD((configure.y - display_.areaY) / scale_);
        }
        break;
    }
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
        HandleButton(reinterpret_cast<const xcb_button_press_event_t &>(event));
        break;
    case XCB_KEY_PRESS: {
        const auto &key = reinterpret_cast<const xcb_key_press_event_t &>(event);
        ShownXWindow *shown = FindShown(key.event);
        HostWindow *window = asking_ != nullptr ? asking_ : shown ? shown->window : nullptr;
        if (window != nullptr && window->request != nullptr && window->request->scroll) {
            int lines = GetScrollLines(display_, key.detail, window->request->page);
            if (lines != 0) {
                window->request->scroll(*window, lines);
                break;
            }
        }
        unsigned long character = ReadKeyCharacter(display_, key.detail);
        if (window == nullptr || character == 0 || character >= 128)
            break;
        for (HostGadget *button : ListButtons(*window))
            if (!button->label.empty() &&
                std::tolower(static_cast<unsigned char>(button->label[0])) == int(character))
                Choose(*window, *button);
        break;
    }
    case XCB_CLIENT_MESSAGE:
        HandleMessage(reinterpret_cast<const xcb_client_message_event_t &>(event));
        break;
    default:
        break;
    }
}

void DesktopPresentation::LoseWindow()
{
    Lose("The window was destroyed from outside; unpacking goes on without it");
}

void DesktopPresentation::HandleButton(const xcb_button_press_event_t &event)
{
    ShownXWindow *shown = FindShown(event.event);
    HostWindow *window = shown != nullptr ? shown->window : nullptr;
    bool wheel = event.detail == XCB_BUTTON_INDEX_4 || event.detail == XCB_BUTTON_INDEX_5;
    if (window != nullptr && wheel && window->request != nullptr && window->request->scroll &&
        (event.response_type & 0x7F) == XCB_BUTTON_PRESS) {
        int lines = event.detail == XCB_BUTTON_INDEX_4 ? -WHEEL_LINES : WHEEL_LINES;
        window->request->scroll(*window, lines);
        return;
    }
    if (window == nullptr || event.detail != XCB_BUTTON_INDEX_1)
        return;
    HostGadget *gadget = FindGadgetAt(*window, event.event_x / scale_, event.event_y / scale_);
    if ((event.response_type & 0x7F) == XCB_BUTTON_PRESS) {
        if (gadget == nullptr && window->request != nullptr && window->request->press &&
            window->request->press(*window, event.event_x / scale_, event.event_y / scale_))
            return;
        if (gadget == nullptr && event.event_y < shown->borderTop * scale_) {
            StartWindowMove(display_, shown->id, event.root_x, event.root_y);
            return;
        }
        if (gadget == nullptr || gadget->unavailable || (asking_ != nullptr && window != asking_))
            return;
        /* Shown pressed at once, at the next showing of changes; the
           program hears of it only at the release. */
        pressed_ = gadget;
        pressedWindow_ = window;
        gadget->pressed = true;
        DrawButton(*window, *gadget);
    } else if (pressed_ != nullptr && window == pressedWindow_) {
        HostGadget *released = pressed_;
        released->pressed = false;
        pressed_ = nullptr;
        DrawButton(*window, *released);
        if (gadget == released)
            Choose(*window, *released);
    }
}

void DesktopPresentation::HandleMessage(const xcb_client_message_event_t &message)
{
    ShownXWindow *shown = FindShown(message.window);
    if (shown == nullptr || message.type != display_.WM_PROTOCOLS || message.format != 32)
        return;
    xcb_atom_t protocol = message.data.data32[0];
    if (protocol == display_._NET_WM_PING) {
        AnswerPing(display_, message);
    } else if (protocol == display_.WM_DELETE_WINDOW && shown->window != nullptr) {
        /* Closing the window asks what its first button asks; a request
           closed is answered by its rightmost button. */
        HostWindow *window = shown->window;
        std::vector<HostGadget *> buttons = ListButtons(*window);
        if (window == asking_)
            Answer(0);
        else if (!buttons.empty())
            Choose(*window, *buttons.front());
    }
}

#include "BoxRendering.h"
#include "TerminalPresentation.h"

#include <unistd.h>

/* The person's keys: read by either thread, pressed at once in the box,
   and handed to the window by the program's thread.

   Lock order: as TerminalPresentation.h says. */

void TerminalPresentation::ReadKeys()
{
    if (!IsTaken() || keys_ < 0)
        return;
    std::lock_guard<std::mutex> reading(keyMutex_);
    char bytes[64];
    ssize_t got;
    while ((got = read(keys_, bytes, sizeof bytes)) > 0) {
        std::string keys = keyInput_.Decode(bytes, size_t(got));
        std::lock_guard<std::mutex> state(mutex_);
        for (char key : keys)
            TakeKey(key);
    }
}

void TerminalPresentation::TakeKey(char key)
{
    if (!requestButtons_.empty()) {
        for (HostGadget *button : requestButtons_)
            if (answer_ == nullptr && key == GetButtonKey(*button)) {
                answer_ = button;
                changed_.notify_all();
            }
        return;
    }
    for (HostGadget *button : buttons_)
        if (key == GetButtonKey(*button)) {
            Press(button);
            return;
        }
    if (typeAhead_.size() < 16)
        typeAhead_ += key;
}

void TerminalPresentation::Press(HostGadget *button)
{
    pendingPresses_.push_back(button);
    pressesWaiting_ = true;
    pressed_ = button;
    typeAhead_.clear();
    forceDraw_ = true;
}

void TerminalPresentation::PressButtons()
{
    std::lock_guard<std::recursive_mutex> model(GetModelLock());
    std::lock_guard<std::mutex> state(mutex_);
    for (HostGadget *button : pendingPresses_)
        ReleaseGadget(*window_, *button);
    pendingPresses_.clear();
    pressesWaiting_ = false;
}

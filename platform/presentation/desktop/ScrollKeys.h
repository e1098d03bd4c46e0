#ifndef PLATFORM_DESKTOP_SCROLL_KEYS_H
#define PLATFORM_DESKTOP_SCROLL_KEYS_H

#include "XDisplay.h"

/* How many lines a key moves a text that shows page lines at a time: the
   arrows up and down by one, Page Up, Page Down and the space bar by a
   page, Home and End to either end (keypad keys alike); 0 for any other
   key. Negative towards the text's start. */
int GetScrollLines(const XDisplay &display, xcb_keycode_t key, int page);

/* The lines that one step of the mouse wheel moves a text. */
constexpr int WHEEL_LINES = 3;

#endif

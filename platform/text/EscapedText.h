#ifndef PLATFORM_TEXT_ESCAPED_TEXT_H
#define PLATFORM_TEXT_ESCAPED_TEXT_H

#include <string>

#include <text/escape.h>

/* The text as EscapeText makes it, whole: room is made for every byte to
   become an escape, so nothing is cut. backslash is ESCAPE_BACKSLASH or
   KEEP_BACKSLASH. */
std::string EscapedText(const std::string &text, int backslash = KEEP_BACKSLASH);

#endif

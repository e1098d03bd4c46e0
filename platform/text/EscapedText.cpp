#include "EscapedText.h"

#include <cstring>

std::string EscapedText(const std::string &text, int backslash)
{
    /* An escape (\xNN) is four bytes for one. */
    std::string escaped(text.size() * 4 + 1, '\0');
    EscapeText(text.data(), text.size(), escaped.data(), escaped.size(), backslash);
    escaped.resize(std::strlen(escaped.c_str()));
    return escaped;
}

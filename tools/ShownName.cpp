#include "ShownName.h"

#include <vector>

#include <text/escape.h>

std::string ShowName(const std::string &name)
{
    std::vector<char> text(name.size() * 4 + 1);
    EscapeText(name.data(), name.size(), text.data(), text.size(), ESCAPE_BACKSLASH);
    return text.data();
}

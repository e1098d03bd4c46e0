#include "ShownName.h"

#include "../platform/text/EscapedText.h"

std::string ShowName(const std::string &name)
{
    return EscapedText(name, ESCAPE_BACKSLASH);
}

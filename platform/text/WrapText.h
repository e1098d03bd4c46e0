#ifndef PLATFORM_TEXT_WRAP_TEXT_H
#define PLATFORM_TEXT_WRAP_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

/* Long texts (an installer's licence) laid out in lines of a width, for a
   window or a terminal, each of which measures characters its own way. */

/* One character as it is shown: its bytes and the columns it takes. */
struct TextUnit {
    std::string bytes;
    size_t width;
};

/* The text's lines as it has them: a line ends at "\n", "\r\n", a lone "\r"
   or a form feed; a tab becomes the spaces to the next multiple of eight
   characters. */
std::vector<std::string> SplitTextLines(const std::string &text);

/* One line cut into lines of at most columns: between words where it can,
   inside a word longer than a line where it must. The spaces at a cut are
   dropped; those that begin the line (an indent) are kept while they fit. */
std::vector<std::string> WrapUnits(const std::vector<TextUnit> &units, size_t columns);

#endif

#ifndef PLATFORM_TERMINAL_DISPLAY_TEXT_H
#define PLATFORM_TERMINAL_DISPLAY_TEXT_H

#include <string>
#include <vector>

/* One character as the terminal shows it: its bytes and the number of
   columns it takes (1 or 2). A character of no width (a combining mark)
   travels with the character before it. */
struct DisplayCharacter {
    std::string bytes;
    int width;
};

/* Prepares counting widths as the terminal counts them: the character
   set comes from the environment's locale. Only a UTF-8 locale lets other
   than ASCII through; elsewhere such bytes are shown escaped. */
void InitDisplayText();

/* Text split into the characters the terminal shows. Control bytes and
   malformed UTF-8 are escaped first, so that no text can drive the
   terminal, and so is any character the terminal cannot print. */
std::vector<DisplayCharacter> SplitDisplayText(const std::string &bytes);

/* The columns the characters take. */
size_t MeasureDisplayText(const std::vector<DisplayCharacter> &characters);

#endif

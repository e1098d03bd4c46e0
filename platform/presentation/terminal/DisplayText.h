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

/* Learns whether the terminal takes UTF-8: it does when the first of
   LC_ALL, LC_CTYPE and LANG that is set and not empty names the UTF-8
   codeset (as in C.UTF-8 or en_GB.utf8). Only then is other than ASCII let
   through; elsewhere such bytes are shown escaped. The columns a character
   takes come from a fixed table, never from the machine's locale files. */
void InitDisplayText();

/* Whether InitDisplayText found a UTF-8 terminal. */
bool IsUtf8Display();

/* Text split into the characters the terminal shows. Control bytes and
   malformed UTF-8 are escaped first, so that no text can drive the
   terminal, and so is any character the terminal cannot print. */
std::vector<DisplayCharacter> SplitDisplayText(const std::string &bytes);

/* The columns the characters take. */
size_t MeasureDisplayText(const std::vector<DisplayCharacter> &characters);

/* The text's characters in at most columns: whole when they fit, else cut
   with a mark ("\u2026", or "..." where the terminal is not UTF-8) where
   text was left out. keepEnd keeps the end, from the first '/' in it (a
   path's last names); otherwise the start is kept. A cut never falls
   inside a character or an escape. */
std::vector<DisplayCharacter> FitDisplayText(const std::string &bytes, size_t columns,
                                             bool keepEnd);

#endif

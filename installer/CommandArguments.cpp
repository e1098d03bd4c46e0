#include "Installer.h"

#include <cstring>

namespace
{

bool IsNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsNameCharacter(char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9');
}

/* Skips a variable's expansion that begins at text[at] ('$'): $NAME or
   ${NAME}. False for any other use of '$' ($@, $1, $*, $#, $(...), ${1}
   ...). */
bool SkipVariable(const std::string &text, size_t &at)
{
    size_t next = at + 1;
    bool braced = next < text.size() && text[next] == '{';
    if (braced)
        next++;
    if (next >= text.size() || !IsNameStart(text[next]))
        return false;
    while (next < text.size() && IsNameCharacter(text[next]))
        next++;
    if (braced) {
        if (next >= text.size() || text[next] != '}')
            return false;
        next++;
    }
    at = next - 1;
    return true;
}

/* Whether the command is one simple command made of words (plain, quoted
   or with backslashes) and $NAME variables, at least one of them not an
   assignment: then words appended to it become its program's arguments.
   Anything else (operators, redirections, substitutions, comments, the
   positional parameters, quotes left open) is a command whose author
   decides what its arguments are. */
bool IsPlainCommand(const std::string &command)
{
    bool inWord = false, wordIsAssignment = false, programSeen = false;
    bool nameSoFar = false;
    char quote = 0;
    for (size_t i = 0; i < command.size(); i++) {
        char c = command[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            continue;
        }
        if (quote == '"') {
            if (c == '"')
                quote = 0;
            else if (c == '`' || (c == '$' && !SkipVariable(command, i)))
                return false;
            else if (c == '\\' && ++i >= command.size())
                return false;
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (inWord && !wordIsAssignment)
                programSeen = true;
            inWord = false;
            continue;
        }
        if (!inWord) {
            if (c == '#')
                return false;
            inWord = true;
            /* Assignments come before the program's name. */
            wordIsAssignment = false;
            nameSoFar = !programSeen && IsNameStart(c);
        } else if (nameSoFar && c == '=') {
            wordIsAssignment = true;
            nameSoFar = false;
        } else if (nameSoFar && !IsNameCharacter(c)) {
            nameSoFar = false;
        }
        if (std::strchr(";&|<>()`\n\r!{}", c) != nullptr)
            return false;
        if (c == '$' && !SkipVariable(command, i))
            return false;
        if (c == '\\' && ++i >= command.size())
            return false;
        if (c == '\'' || c == '"')
            quote = c;
    }
    if (inWord && !wordIsAssignment)
        programSeen = true;
    return quote == 0 && programSeen;
}

} // namespace

std::string CommandTakingArguments(const std::string &command)
{
    return IsPlainCommand(command) ? command + " \"$@\"" : command;
}

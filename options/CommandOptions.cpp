#include "CommandOptions.h"

#include <cstring>

#include <strings.h>

namespace
{

/* The usage's column where the help begins. */
constexpr int helpColumn = 20;

/* The two options that people type with two dashes out of habit. */
const char *const doubleDashNames[] = {"--help", "--version"};

} // namespace

const char *OptionName(const char *argument)
{
    if (argument[0] != '-' || std::strcmp(argument, "--") == 0)
        return nullptr;
    for (const char *name : doubleDashNames) {
        if (strcasecmp(argument, name) == 0)
            return argument + 1;
    }
    return argument;
}

bool IsOptionNamed(const char *option, const char *name)
{
    return strcasecmp(option, name) == 0;
}

std::string UnknownOption(const char *argument)
{
    return std::string("unknown option ") + argument;
}

std::string MissingValue(const char *name, const char *needs)
{
    return std::string(name) + " needs " + needs;
}

std::string RefusedValue(const char *name, const char *value)
{
    return std::string(name) + " does not take " + (*value != '\0' ? value : "an empty value");
}

void PrintOption(std::FILE *stream, const char *name, const char *value, const char *help)
{
    std::string head = name;
    if (value != nullptr)
        head += std::string(" ") + value;
    std::fprintf(stream, "  %-*s", helpColumn - 2, head.c_str());
    /* A head as wide as the column gets its help on the next line. */
    if (head.size() >= size_t(helpColumn - 2))
        std::fprintf(stream, "\n%*s", helpColumn, "");
    for (const char *line = help; *line != '\0';) {
        const char *end = std::strchr(line, '\n');
        size_t length = end != nullptr ? size_t(end - line) : std::strlen(line);
        std::fprintf(stream, "%*s%.*s\n", line == help ? 0 : helpColumn, "", int(length), line);
        line += length + (end != nullptr ? 1 : 0);
    }
}

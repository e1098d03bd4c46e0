#ifndef OPTIONS_COMMAND_OPTIONS_H
#define OPTIONS_COMMAND_OPTIONS_H

#include <cstdio>
#include <span>
#include <string>
#include <vector>

/* The option style that velorin-pack and an installer share: one dash, any
   case ("-Dest"), "--help" and "--version" as people type them, an option
   that takes a value takes the next argument whatever it holds, "--" ends
   the options. A program describes its options in one table of
   CommandOption entries; reading the command line and printing the usage
   both come from it, so an option is added with one entry. */

/* One option. name as typed ("-dest"); value: its value's name in the
   usage ("DIR"), null when it takes none; needs: what is missing when the
   value is ("a directory"); help: its lines in the usage, '\n' between
   them; take: stores the value, false when it is not one the option
   accepts. */
template <class Settings> struct CommandOption {
    const char *name;
    const char *value;
    const char *needs;
    const char *help;
    bool (*take)(Settings &settings, const char *value);
};

/* Takes for the common kinds of option: a switch, and a text kept as it is. */
template <auto flag> bool SetFlag(auto &settings, const char *)
{
    settings.*flag = true;
    return true;
}
template <auto text> bool SetText(auto &settings, const char *value)
{
    settings.*text = value;
    return true;
}

/* The words that are not options: operands (before "--", not beginning
   with '-') and rest (everything after "--"). */
struct CommandWords {
    std::vector<std::string> operands;
    std::vector<std::string> rest;
};

/* Where argument is an option, its name as the table spells it ("--help"
   is "-help"); null for an operand and for "--". */
const char *OptionName(const char *argument);
/* Whether name is option's, without regard to case. */
bool IsOptionNamed(const char *option, const char *name);
/* The faults, worded once: "unknown option -bogus", "-dest needs a
   directory", "-level does not take 10". */
std::string UnknownOption(const char *argument);
std::string MissingValue(const char *name, const char *needs);
std::string RefusedValue(const char *name, const char *value);
/* One option's lines of the usage: its name and value, then its help. */
void PrintOption(std::FILE *stream, const char *name, const char *value, const char *help);

/* Reads argv[1] to argv[argc - 1] against the table into settings and
   words. False with error naming the first fault. */
template <class Settings>
bool ReadCommandOptions(int argc, char **argv, std::span<const CommandOption<Settings>> table,
                        Settings &settings, CommandWords &words, std::string &error)
{
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        if (std::string_view(argument) == "--") {
            words.rest.assign(argv + i + 1, argv + argc);
            return true;
        }
        const char *name = OptionName(argument);
        if (name == nullptr) {
            words.operands.emplace_back(argument);
            continue;
        }
        const CommandOption<Settings> *found = nullptr;
        for (const CommandOption<Settings> &option : table) {
            if (IsOptionNamed(option.name, name))
                found = &option;
        }
        if (found == nullptr) {
            error = UnknownOption(argument);
            return false;
        }
        const char *value = "";
        if (found->value != nullptr) {
            if (i + 1 >= argc) {
                error = MissingValue(found->name, found->needs);
                return false;
            }
            value = argv[++i];
        }
        if (!found->take(settings, value)) {
            error = RefusedValue(found->name, value);
            return false;
        }
    }
    return true;
}

template <class Settings>
void PrintCommandOptions(std::FILE *stream, std::span<const CommandOption<Settings>> table)
{
    for (const CommandOption<Settings> &option : table)
        PrintOption(stream, option.name, option.value, option.help);
}

#endif

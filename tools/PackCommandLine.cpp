#include "PackCommandLine.h"

#include <cstring>

#include <strings.h>

namespace
{

/* One option: how it is typed, the name of its value in the usage (null for
   an option without a value), its line in the usage, and what it sets. take
   gives false when the value is not one the option accepts. */
struct PackOption {
    const char *name;
    const char *value;
    const char *help;
    bool packingOnly;
    bool (*take)(PackCommand &command, const char *value);
};

const PackOption packOptions[] = {
    {"-level", "N",
     "gzip level, 1 (fast) to 9 (small), default 6; 0 stores\n"
     "the data uncompressed, still checked by gzip's CRC-32",
     true,
     [](PackCommand &command, const char *value) {
         if (std::strlen(value) != 1 || value[0] < '0' || value[0] > '9')
             return false;
         command.settings.level = value[0] - '0';
         return true;
     }},
    {"-exclude", "PATTERN",
     "leaves out what the shell pattern matches, compared\n"
     "with the whole path below SOURCE_DIR ('*' also\n"
     "matches '/'); a directory left out takes its contents\n"
     "along; repeatable",
     true,
     [](PackCommand &command, const char *value) {
         command.settings.excludes.emplace_back(value);
         return true;
     }},
    {"-skip-unstorable", nullptr,
     "packs the rest, with a warning for each entry that\n"
     "an archive cannot hold, instead of refusing to pack",
     true,
     [](PackCommand &command, const char *) {
         command.settings.skipUnstorable = true;
         return true;
     }},
    {"-installer", nullptr,
     "makes ARCHIVE a one-file installer: the velorin program,\n"
     "the archive, and the command given by -run",
     true,
     [](PackCommand &command, const char *) {
         command.installer = true;
         return true;
     }},
    {"-run", "COMMAND",
     "(with -installer) a command that the installer runs\n"
     "through /bin/sh in the unpacked tree",
     true,
     [](PackCommand &command, const char *value) {
         command.installerCommand = value;
         return *value != '\0';
     }},
    {"-stub", "PROGRAM",
     "(with -installer) the velorin program that begins the\n"
     "installer; default: the one beside velorin-pack",
     true,
     [](PackCommand &command, const char *value) {
         command.stub = value;
         return *value != '\0';
     }},
    {"-license", "FILE",
     "(with -installer) a licence, UTF-8 text, that the\n"
     "installer shows and has accepted before it unpacks",
     true,
     [](PackCommand &command, const char *value) {
         command.licenseFile = value;
         return *value != '\0';
     }},
    {"-list", nullptr,
     "prints one line per entry of ARCHIVE (type, size,\n"
     "name; file+x for a program), then the totals",
     false,
     [](PackCommand &command, const char *) {
         command.list = true;
         return true;
     }},
    {"-verify", nullptr,
     "reads the whole of ARCHIVE as Velorin does before it writes\n"
     "anything, and says whether it can be unpacked",
     false,
     [](PackCommand &command, const char *) {
         command.verify = true;
         return true;
     }},
    {"-help", nullptr, "prints this text", false,
     [](PackCommand &command, const char *) {
         command.help = true;
         return true;
     }},
    {"-version", nullptr, "prints the version", false,
     [](PackCommand &command, const char *) {
         command.version = true;
         return true;
     }},
};

const PackOption *FindOption(const char *name)
{
    for (const PackOption &option : packOptions) {
        if (strcasecmp(name, option.name) == 0)
            return &option;
    }
    return nullptr;
}

} // namespace

bool ReadPackCommandLine(int argc, char **argv, PackCommand &command, std::string &error)
{
    bool packingOptionGiven = false;
    std::string packingOption;
    bool optionsEnded = false;
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        if (optionsEnded || argument[0] != '-') {
            command.operands.emplace_back(argument);
            continue;
        }
        if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        const PackOption *option = FindOption(argument);
        if (option == nullptr) {
            error = "unknown option " + std::string(argument);
            return false;
        }
        const char *value = "";
        if (option->value != nullptr) {
            if (i + 1 >= argc) {
                error = std::string(option->name) + " needs a value (" + option->value + ")";
                return false;
            }
            value = argv[++i];
        }
        if (!option->take(command, value)) {
            error = std::string(option->name) + " does not take " +
                    (*value != '\0' ? value : "an empty value");
            return false;
        }
        if (option->packingOnly && !packingOptionGiven) {
            packingOptionGiven = true;
            packingOption = option->name;
        }
    }
    if (command.help || command.version)
        return true;
    if (command.list && command.verify) {
        error = "-list and -verify cannot be given together";
        return false;
    }
    if (command.list || command.verify) {
        const char *mode = command.list ? "-list" : "-verify";
        if (packingOptionGiven) {
            error = packingOption + " is for packing, not for " + mode;
            return false;
        }
        if (command.operands.size() != 1) {
            error = std::string(mode) + " needs one ARCHIVE";
            return false;
        }
        return true;
    }
    if (!command.installer && (!command.installerCommand.empty() || !command.stub.empty() ||
                               !command.licenseFile.empty())) {
        error = std::string(!command.installerCommand.empty() ? "-run"
                            : !command.stub.empty()           ? "-stub"
                                                              : "-license") +
                " needs -installer";
        return false;
    }
    if (command.operands.size() != 2) {
        error = "packing needs SOURCE_DIR and ARCHIVE";
        return false;
    }
    return true;
}

void PrintPackUsage(std::FILE *stream)
{
    std::fprintf(stream,
                 "Usage: velorin-pack [OPTIONS] SOURCE_DIR ARCHIVE\n"
                 "       velorin-pack -list ARCHIVE\n"
                 "       velorin-pack -verify ARCHIVE\n"
                 "Packs the tree below SOURCE_DIR into ARCHIVE for Velorin. Files that their\n"
                 "owner may execute are marked as programs, and Velorin makes them executable\n"
                 "again. Options may come anywhere, in any case; \"--\" ends them.\n");
    for (const PackOption &option : packOptions) {
        std::string head = option.name;
        if (option.value != nullptr)
            head += std::string(" ") + option.value;
        std::fprintf(stream, "  %-18s", head.c_str());
        for (const char *line = option.help; *line != '\0';) {
            const char *end = std::strchr(line, '\n');
            size_t length = end != nullptr ? size_t(end - line) : std::strlen(line);
            std::fprintf(stream, "%s%.*s\n", line == option.help ? "" : "                    ",
                         int(length), line);
            line += length + (end != nullptr ? 1 : 0);
        }
    }
    std::fprintf(stream,
                 "Exit codes: 0 done (packed, listed, or the archive unpacks into an empty\n"
                 "destination); 1 the tree could not be packed (nothing is left behind), the\n"
                 "archive has a fault or cannot be unpacked, or the output was lost; 2 a wrong\n"
                 "command line; 3 (-verify) the archive is sound, but unpacking needs the\n"
                 "directories it lists to exist in the destination already.\n");
}

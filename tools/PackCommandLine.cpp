#include "PackCommandLine.h"

#include <cstring>

#include "../options/CommandOptions.h"

namespace
{

/* The first option given that only packing takes, for the fault of giving
   it to -list or -verify. */
void NotePackingOption(PackCommand &command, const char *name)
{
    if (command.packingOption.empty())
        command.packingOption = name;
}

const CommandOption<PackCommand> packOptions[] = {
    {"-level", "N", "a level, 0 to 9",
     "gzip level, 1 (fast) to 9 (small), default 6; 0 stores\n"
     "the data uncompressed, still checked by gzip's CRC-32",
     [](PackCommand &command, const char *value) {
         NotePackingOption(command, "-level");
         if (std::strlen(value) != 1 || value[0] < '0' || value[0] > '9')
             return false;
         command.settings.level = value[0] - '0';
         return true;
     }},
    {"-exclude", "PATTERN", "a pattern",
     "leaves out what the shell pattern matches, compared\n"
     "with the whole path below SOURCE_DIR ('*' also\n"
     "matches '/'); a directory left out takes its contents\n"
     "along; repeatable",
     [](PackCommand &command, const char *value) {
         NotePackingOption(command, "-exclude");
         command.settings.excludes.emplace_back(value);
         return true;
     }},
    {"-skip-unstorable", nullptr, nullptr,
     "packs the rest, with a warning for each entry that\n"
     "an archive cannot hold, instead of refusing to pack",
     [](PackCommand &command, const char *) {
         NotePackingOption(command, "-skip-unstorable");
         command.settings.skipUnstorable = true;
         return true;
     }},
    {"-installer", nullptr, nullptr,
     "makes ARCHIVE a one-file installer: the velorin program,\n"
     "the archive, and the command given by -run",
     [](PackCommand &command, const char *) {
         NotePackingOption(command, "-installer");
         command.installer = true;
         return true;
     }},
    {"-run", "COMMAND", "a command",
     "(with -installer) a command that the installer runs\n"
     "through /bin/sh in the unpacked tree; a plain command\n"
     "(words and $NAME only) gets the installer's arguments",
     [](PackCommand &command, const char *value) {
         NotePackingOption(command, "-run");
         command.installerCommand = value;
         return *value != '\0';
     }},
    {"-stub", "PROGRAM", "a program",
     "(with -installer) the velorin program that begins the\n"
     "installer; default: the one beside velorin-pack",
     [](PackCommand &command, const char *value) {
         NotePackingOption(command, "-stub");
         command.stub = value;
         return *value != '\0';
     }},
    {"-sign", "KEYFILE", "a key file",
     "signs with this minisign secret key into\n"
     "ARCHIVE.minisig (an installer also carries its\n"
     "signature inside); an encrypted key's password is\n"
     "asked for on the terminal",
     [](PackCommand &command, const char *value) {
         NotePackingOption(command, "-sign");
         command.signingKey = value;
         return *value != '\0';
     }},
    {"-sign-password-file", "FILE", "a file",
     "(with -sign) reads the key's password from the first\n"
     "line of FILE instead",
     [](PackCommand &command, const char *value) {
         NotePackingOption(command, "-sign-password-file");
         command.passwordFile = value;
         return *value != '\0';
     }},
    {"-license", "FILE", "a file",
     "(with -installer) a licence, UTF-8 text, that the\n"
     "installer shows and has accepted before it unpacks",
     [](PackCommand &command, const char *value) {
         NotePackingOption(command, "-license");
         command.licenseFile = value;
         return *value != '\0';
     }},
    {"-list", nullptr, nullptr,
     "prints one line per entry of ARCHIVE (type, size,\n"
     "name; file+x for a program), then the totals",
     [](PackCommand &command, const char *) {
         command.list = true;
         return true;
     }},
    {"-verify", nullptr, nullptr,
     "reads the whole of ARCHIVE as Velorin does before it writes\n"
     "anything, and says whether it can be unpacked",
     [](PackCommand &command, const char *) {
         command.verify = true;
         return true;
     }},
    {"-help", nullptr, nullptr, "prints this text",
     [](PackCommand &command, const char *) {
         command.help = true;
         return true;
     }},
    {"-version", nullptr, nullptr, "prints the version",
     [](PackCommand &command, const char *) {
         command.version = true;
         return true;
     }},
};

} // namespace

bool ReadPackCommandLine(int argc, char **argv, PackCommand &command, std::string &error)
{
    CommandWords words;
    if (!ReadCommandOptions<PackCommand>(argc, argv, packOptions, command, words, error))
        return false;
    /* After "--", everything is an operand, even what begins with '-'. */
    command.operands = words.operands;
    command.operands.insert(command.operands.end(), words.rest.begin(), words.rest.end());
    if (command.help || command.version)
        return true;
    if (command.list && command.verify) {
        error = "-list and -verify cannot be given together";
        return false;
    }
    if (command.list || command.verify) {
        const char *mode = command.list ? "-list" : "-verify";
        if (!command.packingOption.empty()) {
            error = command.packingOption + " is for packing, not for " + mode;
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
    if (command.signingKey.empty() && !command.passwordFile.empty()) {
        error = "-sign-password-file needs -sign";
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
                 "again. ARCHIVE for -list and -verify may also be an installer. Options may\n"
                 "come anywhere, in any case; \"--\" ends them.\n");
    PrintCommandOptions<PackCommand>(stream, packOptions);
    std::fprintf(stream,
                 "Exit codes: 0 done (packed, listed, or the archive unpacks into an empty\n"
                 "destination); 1 the tree could not be packed (nothing is left behind), the\n"
                 "archive has a fault or cannot be unpacked, or the output was lost; 2 a wrong\n"
                 "command line; 3 (-verify) the archive is sound, but unpacking needs the\n"
                 "directories it lists to exist in the destination already.\n");
}

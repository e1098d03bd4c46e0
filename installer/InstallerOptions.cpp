#include "InstallerOptions.h"

#include "../options/CommandOptions.h"

namespace
{

bool TakeDest(InstallerOptions &options, const char *value)
{
    options.dest = value;
    options.destAndTarget = !options.target.empty();
    return *value != '\0';
}

bool TakeTarget(InstallerOptions &options, const char *value)
{
    options.target = value;
    options.destAndTarget = !options.dest.empty();
    return *value != '\0';
}

bool TakeKey(InstallerOptions &options, const char *value)
{
    options.key = value;
    options.keyGiven = true;
    return *value != '\0';
}

template <int mode> bool TakeMode(InstallerOptions &options, const char *)
{
    options.mode = decltype(options.mode)(mode);
    return true;
}

const CommandOption<InstallerOptions> installerOptions[] = {
    {"-dest", "DIR", "a directory",
     "unpack into DIR, an existing directory, then run the\n"
     "command there. Without -dest or -target (only for an\n"
     "installer with a command): into a new temporary\n"
     "directory below $TMPDIR, removed afterwards",
     TakeDest},
    {"-target", "DIR", "a directory", "as -dest, but DIR and its missing parents are created",
     TakeTarget},
    {"-keep", nullptr, nullptr, "keep the temporary directory and say where it is",
     SetFlag<&InstallerOptions::keep>},
    {"-noexec", nullptr, nullptr, "unpack, and run nothing", SetFlag<&InstallerOptions::noexec>},
    {"-nospacecheck", nullptr, nullptr,
     "unpack even where the file system seems to lack the\n"
     "space (one that compresses or deduplicates)",
     SetFlag<&InstallerOptions::nospacecheck>},
    {"-key", "PUB", "a public key",
     "first check that the installer is signed with this\n"
     "minisign public key (a file, or its base64 text);\n"
     "nothing is unpacked or run if not",
     TakeKey},
    {"-accept", nullptr, nullptr, "accept the licence without having it shown (a script)",
     SetFlag<&InstallerOptions::accept>},
    {"-list", nullptr, nullptr, "list the files it holds", TakeMode<InstallerOptions::List>},
    {"-verify", nullptr, nullptr, "check them all as unpacking would",
     TakeMode<InstallerOptions::Verify>},
    {"-license", nullptr, nullptr, "print the licence", TakeMode<InstallerOptions::License>},
    {"-help", nullptr, nullptr, "print this text", TakeMode<InstallerOptions::Help>},
    {"-version", nullptr, nullptr, "print Velorin's version", TakeMode<InstallerOptions::Version>},
};

} // namespace

bool ReadInstallerOptions(int argc, char **argv, InstallerOptions &options, std::string &error)
{
    CommandWords words;
    if (!ReadCommandOptions<InstallerOptions>(argc, argv, installerOptions, options, words, error))
        return false;
    if (!words.operands.empty()) {
        error = "unexpected argument " + words.operands.front() +
                " (the command's arguments come after --)";
        return false;
    }
    if (options.destAndTarget) {
        error = "-dest and -target cannot be given together";
        return false;
    }
    options.arguments = words.rest;
    return true;
}

void PrintInstallerUsage(std::FILE *stream, const char *name)
{
    std::fprintf(stream,
                 "Usage: %s [-key PUB] [-dest DIR | -target DIR] [-keep] [-noexec]\n"
                 "       %*s [-nospacecheck] [-accept] [-- ARG...]\n"
                 "       %s [-key PUB] -list | -verify\n"
                 "       %s -license | -help | -version\n",
                 name, int(std::string(name).size()), "", name, name);
}

void PrintInstallerOptions(std::FILE *stream)
{
    PrintCommandOptions<InstallerOptions>(stream, installerOptions);
    PrintOption(stream, "-- ARG...", nullptr, "arguments for the command");
}

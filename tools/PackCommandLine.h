#ifndef TOOLS_PACK_COMMAND_LINE_H
#define TOOLS_PACK_COMMAND_LINE_H

#include <cstdio>
#include <string>
#include <vector>

#include "PackTree.h"

/* What velorin-pack was asked to do. */
struct PackCommand {
    bool help = false;
    bool version = false;
    bool list = false;
    bool verify = false;
    PackSettings settings;
    /* -installer: a one-file installer instead of an archive, beginning
       with stub (empty: the velorin beside this program) and running
       installerCommand (empty: none) after it unpacks. */
    bool installer = false;
    std::string installerCommand;
    std::string stub;
    /* The first option given that only packing takes, if any. */
    std::string packingOption;
    /* -sign: the minisign secret key file, and where its password is
       read (empty: asked on the terminal when the key is encrypted). */
    std::string signingKey;
    std::string passwordFile;
    /* -license: the file of the licence the installer has accepted before
       it unpacks anything; empty for none. */
    std::string licenseFile;
    /* The arguments that are not options: SOURCE_DIR and ARCHIVE when
       packing, ARCHIVE for -list and -verify. */
    std::vector<std::string> operands;
};

/* Reads the arguments after the program's name, in the shared option style
   (CommandOptions.h). Options may come anywhere, before, between or after
   the operands. False with error set when the command line is wrong. */
bool ReadPackCommandLine(int argc, char **argv, PackCommand &command, std::string &error);

/* The usage text, built from the same table of options that is read. */
void PrintPackUsage(std::FILE *stream);

#endif

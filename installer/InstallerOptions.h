#ifndef PLATFORM_INSTALLER_INSTALLER_OPTIONS_H
#define PLATFORM_INSTALLER_INSTALLER_OPTIONS_H

#include <cstdio>
#include <string>
#include <vector>

/* What an installer was asked to do, from its command line. */
struct InstallerOptions {
    std::string dest;
    /* -target: as -dest, but created with its missing parents. */
    std::string target;
    bool keep = false;
    /* Unpack and run nothing. */
    bool noexec = false;
    /* No comparison of the archive's size with the free space. */
    bool nospacecheck = false;
    /* -key: the public key that the installer must be signed with. */
    std::string key;
    bool keyGiven = false;
    /* -accept: the licence is accepted without being shown. */
    bool accept = false;
    enum { Unpack, List, Verify, License, Help, Version } mode = Unpack;
    /* The command's arguments, after "--". */
    std::vector<std::string> arguments;
    /* Set when -dest and -target both came. */
    bool destAndTarget = false;
};

/* Reads the installer's command line in velorin-pack's option style. False
   with error naming the fault. */
bool ReadInstallerOptions(int argc, char **argv, InstallerOptions &options, std::string &error);

/* The usage lines and the options' lines, for name (the installer as
   started). */
void PrintInstallerUsage(std::FILE *stream, const char *name);
void PrintInstallerOptions(std::FILE *stream);

#endif

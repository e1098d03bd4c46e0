#ifndef TOOLS_MAKE_INSTALLER_H
#define TOOLS_MAKE_INSTALLER_H

#include <string>

#include "PackTree.h"

struct InstallerPlan {
    std::string sourceDir;
    std::string output;
    PackSettings settings;
    /* Run through /bin/sh in the unpacked tree; empty for none. */
    std::string command;
    /* The velorin program that begins the installer; empty for the one
       beside this program. */
    std::string stub;
    /* The file of the licence to accept before unpacking; empty for none. */
    std::string licenseFile;
};

/* Packs the tree below plan.sourceDir, as PackTree does, into a one-file
   installer at plan.output: the stub with its slot filled, the archive,
   the trailer. The file, of mode 0755 under the umask, appears under its
   name only when whole, as an archive does (OutputFile.h); nothing is left
   after a failure or a signal. */
bool MakeInstaller(const InstallerPlan &plan, const PackReporting &reporting, PackSummary &summary,
                   std::string &error);

#endif

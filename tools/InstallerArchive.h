#ifndef TOOLS_INSTALLER_ARCHIVE_H
#define TOOLS_INSTALLER_ARCHIVE_H

#include <string>

/* When path is a one-file installer, every later opening of path reads the
   archive inside it, as the installer itself reads it. False with error
   when path is an installer that is incomplete or damaged. Any other file
   is left to be read as an archive. */
bool HoldInstallerArchive(const std::string &path, std::string &error);

#endif

#ifndef TOOLS_LICENSE_FILE_H
#define TOOLS_LICENSE_FILE_H

#include <string>

/* Reads the licence an installer carries from a file: UTF-8 text of at
   most INSTALLER_LICENSE_LIMIT bytes, not empty, with no control
   characters but tabs, line ends and form feeds, so that whatever shows
   it (a terminal, a window, a pager) shows the vendor's words and nothing
   else. A byte order mark at the start is left out. False with error set,
   naming the file and where the fault is, otherwise. */
bool ReadLicenseFile(const std::string &path, std::string &text, std::string &error);

/* The same checks on text already read; false with error set (the fault
   and its line, without the file's name). */
bool CheckLicenseText(const std::string &text, std::string &error);

#endif

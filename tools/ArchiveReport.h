#ifndef TOOLS_ARCHIVE_REPORT_H
#define TOOLS_ARCHIVE_REPORT_H

#include <string>

/* velorin-pack's -list: one line per entry (type, size, name), then the
   totals, on standard output. 0, or 1 after printing the first fault. */
int ListArchive(const std::string &path);

/* velorin-pack's -verify: reads the whole archive as Velorin's sizing pass
   does and prints OK with the totals (0), or the first fault (1). */
int VerifyArchive(const std::string &path);

#endif

#ifndef FORMAT_ARCHIVE_REPORT_H
#define FORMAT_ARCHIVE_REPORT_H

#include <cstdint>
#include <string>

/* What -list and -verify return, in velorin-pack and in an installer alike. */
constexpr int REPORT_DONE = 0;
/* The archive has a fault, cannot be unpacked, or the report was lost. */
constexpr int REPORT_FAILED = 1;
/* The archive is sound but needs directories in the destination (-verify). */
constexpr int REPORT_NEEDS_DIRECTORIES = 3;

/* "1 file", "2 files". */
std::string Count(uint64_t number, const char *one, const char *many);

/* What is printed on standard output is a result: a script must learn when
   it did not arrive. code, or REPORT_FAILED with a line on standard error
   that begins with program when the output could not be written. */
int FinishOutput(const std::string &program, int code);

/* -list: one line per entry (type, size, name; for an entry with a mode
   and time, or a link, the mode, time, size and name as tar -tv shows them,
   with where a link leads), then the totals, on standard output; or the
   fault. */
int ListArchive(const std::string &program, const std::string &path);

/* -verify: reads the whole archive as Velorin does before it writes
   anything, and says whether it can be unpacked: OK with the totals, the
   directories the destination must already hold (NEEDS lines), or the
   first fault and the first name that is both a file and a directory. */
int VerifyArchive(const std::string &program, const std::string &path);

#endif

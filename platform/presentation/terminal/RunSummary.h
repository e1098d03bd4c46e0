#ifndef PLATFORM_TERMINAL_RUN_SUMMARY_H
#define PLATFORM_TERMINAL_RUN_SUMMARY_H

#include <string>

/* The line that takes the box's place when a run ends: what was unpacked
   and how long it took ("Unpacked 12 files and 3 directories (1.5 MB) in
   0.8 s"), or the same after "Aborted after unpacking" for return code 2;
   empty for any other code, whose error lines say what happened. */
std::string DescribeRun(int returnCode, unsigned long files, unsigned long directories,
                        unsigned long long bytes, unsigned long long milliseconds);

#endif

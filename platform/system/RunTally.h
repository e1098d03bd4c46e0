#ifndef PLATFORM_SYSTEM_RUN_TALLY_H
#define PLATFORM_SYSTEM_RUN_TALLY_H

#include <atomic>

/* What the run has put into the destination so far: the files created, the
   directories made or found in place, and the bytes written into the
   files. Counted where the platform creates and writes them, so that the
   terminal can say at the end what was unpacked; read from any thread. */
struct RunTally {
    std::atomic<unsigned long> files{0};
    std::atomic<unsigned long> directories{0};
    std::atomic<unsigned long long> bytes{0};
};

RunTally &GetRunTally();

#endif

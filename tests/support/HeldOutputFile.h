#ifndef TESTS_SUPPORT_HELD_OUTPUT_FILE_H
#define TESTS_SUPPORT_HELD_OUTPUT_FILE_H

#include <string>

/* A file already in the destination that velorin cannot open for writing
   until the test lets it: the test holds a read lease on it, and an opening
   for writing waits for the lease to be given up, as it would for a file
   server's. Velorin opens a file in its writing pass after it has shown
   the file's name, so this holds it in one long call with its window up.
   The system itself ends the wait after /proc/sys/fs/lease-break-time
   seconds (45 by default). */
class HeldOutputFile {
public:
    /* Writes content to path and takes the lease. */
    HeldOutputFile(const std::string &path, const std::string &content);
    HeldOutputFile(const HeldOutputFile &) = delete;
    HeldOutputFile &operator=(const HeldOutputFile &) = delete;
    ~HeldOutputFile();

    /* Waits until an opening for writing waits on the lease; whether one
       did within timeoutSeconds. */
    bool WaitUntilWanted(int timeoutSeconds = 60);
    /* Gives the lease up: the waiting opening goes on. */
    void Release();

private:
    int descriptor_ = -1;
};

#endif

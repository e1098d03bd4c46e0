#ifndef TESTS_SUPPORT_HELD_FILE_H
#define TESTS_SUPPORT_HELD_FILE_H

#include <string>

/* A file that velorin cannot open until the test lets it: the test holds a
   lease on it, and an opening that breaks the lease waits for it to be
   given up, as it would for a file server's. The system itself ends the
   wait after /proc/sys/fs/lease-break-time seconds (45 by default).
   - AgainstReading (a write lease) holds any opening: an archive, which
     velorin opens after its window, gives a test a fixed moment with the
     window open and nothing read yet.
   - AgainstWriting (a read lease) holds an opening for writing: a file in
     the destination, which velorin opens in its writing pass after showing
     its name, holds it in one long call with its window up. */
class HeldFile {
public:
    enum Hold { AgainstReading, AgainstWriting };

    /* Writes content to path and takes the lease. */
    HeldFile(const std::string &path, const std::string &content, Hold hold);
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;
    ~HeldFile();

    /* Waits until an opening waits on the lease; whether one did within
       timeoutSeconds. */
    bool WaitUntilWanted(int timeoutSeconds = 60);
    /* Gives the lease up: a waiting opening goes on, later ones do not wait. */
    void Release();

private:
    int descriptor_ = -1;
    int lease_;
};

#endif

#ifndef TESTS_SUPPORT_HELD_ARCHIVE_H
#define TESTS_SUPPORT_HELD_ARCHIVE_H

#include <string>

/* An archive file that velorin cannot open until the test lets it: the test
   holds a write lease on it, and an opening waits for a lease to be given
   up. Velorin opens its archive after its window, so this gives a test a
   fixed moment, with the window open and nothing read yet, to press
   buttons. Release then lets the waiting opening through. */
class HeldArchive {
public:
    /* Writes file's bytes to path and takes the lease. */
    HeldArchive(const std::string &path, const std::string &file);
    HeldArchive(const HeldArchive &) = delete;
    HeldArchive &operator=(const HeldArchive &) = delete;
    ~HeldArchive();

    /* Gives the lease up: an opening that waits goes on, later ones do not
       wait. */
    void Release();

private:
    int descriptor_ = -1;
};

#endif

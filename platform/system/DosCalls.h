#ifndef PLATFORM_SYSTEM_DOS_CALLS_H
#define PLATFORM_SYSTEM_DOS_CALLS_H

#include <string>

/* What the files of dos.library on POSIX share. */

/* What a BPTR lock points to: an O_PATH descriptor, so the object it names
   stays the one that was locked, and the name it was locked by. */
struct HostLock {
    int descriptor;
    std::string name;
    /* A directory that CreateDir made below the held lock root, at below:
       what the resolver would open for the entries inside it. */
    int root = -1;
    std::string below;
};

/* A failed call: IoErr's code and the host's reason for the error line. */
void FailDosCall(int error);
/* A failure below a held lock. A symbolic link met there is
   ERROR_IS_SOFT_LINK: the name cannot be used. */
void FailDosCallBeneath(int error);

#endif

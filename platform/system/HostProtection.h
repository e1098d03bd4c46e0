#ifndef PLATFORM_HOST_PROTECTION_H
#define PLATFORM_HOST_PROTECTION_H

#include <sys/types.h>

#include <exec/types.h>

/* How protection bits become a file's mode on this host. A protection can
   take any permission away. It grants execute permission only to a class of
   users that may read the file, and only where the umask lets a new file
   have it, so that a file made executable ends up as one created with
   execute permission would: 0777 limited by the umask for a new file, and
   its own read and write permissions plus execute for one that already
   existed. Read and write permissions are never widened: they stay as the
   file was created or kept. Set-user-ID, set-group-ID and sticky bits go. */
mode_t ModeForProtection(mode_t current, ULONG protect, mode_t umask);

/* Gives the regular file or directory of the descriptor (open, or from
   O_PATH) the mode for protect. 0, or the errno value of the failure. */
int ApplyProtection(int descriptor, ULONG protect);

/* The same for a file open for writing whose mode is known to be *mode,
   which is kept up to date: nothing is asked of the system, and the mode
   is changed only when it must. */
int ApplyProtectionKnown(int descriptor, mode_t *mode, ULONG protect);

/* The process's umask, which the program never changes. */
mode_t CurrentUmask();

#endif

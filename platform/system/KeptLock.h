#ifndef PLATFORM_SYSTEM_KEPT_LOCK_H
#define PLATFORM_SYSTEM_KEPT_LOCK_H

/* A copy of the lock that the run takes on one name, kept past its
   release: the directory that both passes worked in, whatever its name
   names afterwards. */

/* The next lock taken on exactly this name is kept. */
void KeepLockOf(const char *name);
/* Called by Lock with the descriptor it holds for name. */
void NoteLockTaken(const char *name, int descriptor);
/* The kept descriptor (O_PATH, close-on-exec), or -1 when none was taken. */
int GetKeptLock();

#endif

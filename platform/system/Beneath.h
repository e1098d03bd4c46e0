#ifndef PLATFORM_SYSTEM_BENEATH_H
#define PLATFORM_SYSTEM_BENEATH_H

#include <string>

/* Names below a directory that the program holds open (the destination it
   has locked), resolved from that directory's descriptor one component at a
   time, never through a symbolic link and never out of it. What is checked
   is then what is used: another process that swaps a directory for a link
   meanwhile makes the call fail, never lead elsewhere. */

/* The directory that holds the last component of below, a relative path
   without a trailing '/'; *last points at that component within below.
   The descriptor is root itself or one the resolver keeps for the next
   call (entries come in tree order, so most share their directory with the
   entry before): valid until the next call, never to be closed by the
   caller. -1 with errno set on failure: ELOOP when a symbolic link is on
   the way, EXDEV for a ".." component, ENOENT, ENOTDIR and the like. */
int ResolveParentBeneath(int root, const char *below, const char **last);

/* Opens a last component below parent without following a link; flags as
   for openat, O_NOFOLLOW added. ELOOP when it is a symbolic link. */
int OpenLastBeneath(int parent, const char *last, int flags, int mode = 0);

/* Opens a last component below parent with O_PATH, for any type of object
   but a symbolic link: ELOOP for one. */
int OpenObjectBeneath(int parent, const char *last);

/* Hands the resolver descriptor, a directory opened below root at path
   (as ResolveParentBeneath opens them), in place of what it kept. */
void KeepResolvedBeneath(int root, const std::string &path, int descriptor);

/* The directory root is no longer held: drops what the resolver kept. */
void ForgetResolvedBeneath(int root);

#endif

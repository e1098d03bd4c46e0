#ifndef ARCHIVE_ENTRY_PATH_H
#define ARCHIVE_ENTRY_PATH_H

/* Whether an entry's path below the destination prefix passes through a
   symbolic link that is already there: one of its directories, or a file
   entry itself (a directory entry that is a link counts as a directory
   that exists). Writing through such a link could reach outside the
   destination, so such an entry is refused before anything is written.
   The destination itself may be reached through links; only what lies
   below it counts, which the file system judges for names below the
   destination's lock. */
int LeadsThroughLink(const char *prefix, const char *name, int isDirectory);

/* Starts a pass: no directory is known to be missing. */
void ForgetAbsentDirectory(void);

#endif

#ifndef ARCHIVE_WHOLE_TREE_H
#define ARCHIVE_WHOLE_TREE_H

#include <stdint.h>

#include "../format/ArchiveFormat.h"
#include "EntryAttributes.h"

/* What an archive with whole trees holds beyond files and directories:
   links, and the modes and times that directories get once their content
   is written. A pass remembers what it must do after its last entry, in
   memory that grows with the links and directories it holds. */

/* Starts a pass with nothing remembered. */
void ForgetTree(void);

/* After the last entry of a pass: the sizing pass checks every symbolic
   link against all of them; the writing pass makes them, then gives each
   directory it created its mode and time, the deepest first. An entry
   result: ARCHIVE_ENDED, or RUN_FAILED after the error line. */
int FinishTree(void);

/* A symbolic or hard link entry (type), whose name field holds the link's
   name and its target; described by the attributes record before it, if
   any. An entry result. */
int UnpackLink(const struct FileHeader *entry, uint16_t type,
               const struct EntryAttributes *described);

/* A file that later hard links name, as the sizing pass meets it. 0, or -1
   after the error line when memory runs out. */
int RememberLinkedFile(const char *name);

/* A directory the writing pass created at path, for its mode and time at
   the end. 0, or -1 after the error line when memory runs out. */
int RememberDirectory(const char *path, const struct EntryAttributes *described);
/* Gives each remembered directory its mode and time, the deepest first,
   then forgets them: ARCHIVE_ENDED, or RUN_FAILED after the error line. */
int SetDirectoryAttributes(void);
void ForgetDirectories(void);

/* Shows format, with the entry's name for its %s, as an error line. */
void ShowEntryError(const char *format, const char *name);

#endif

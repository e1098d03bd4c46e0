#ifndef ARCHIVE_ENTRY_NAME_H
#define ARCHIVE_ENTRY_NAME_H

#include <stddef.h>

/* Whether an entry's name field may be joined to the destination prefix:
   it holds a NUL within fieldSize bytes, is not empty, does not start with
   '/' and has no empty, "." or ".." component.
   Velorin refuses any other name, and velorin-pack never writes one. */
int IsSafeEntryName(const char *field, size_t fieldSize);

#endif

#ifndef FORMAT_ENTRY_NAME_H
#define FORMAT_ENTRY_NAME_H

#include <stddef.h>

/* Whether an entry's name field may be joined to the destination prefix:
   it holds a NUL within fieldSize bytes, is not empty, does not start with
   '/' and holds no empty, "." or ".." component. A ':' is an ordinary
   character of a name on this host.
   Velorin refuses any other name, and velorin-pack never writes one. */
int IsSafeEntryName(const char *field, size_t fieldSize);

#endif

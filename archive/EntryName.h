#ifndef ARCHIVE_ENTRY_NAME_H
#define ARCHIVE_ENTRY_NAME_H

#include <stddef.h>

/* Whether an entry's name field may be joined to the destination prefix:
   it holds a NUL within fieldSize bytes, is not empty, does not start with
   '/', holds no ':' (a volume name) and no empty, "." or ".." component.
   Velorin refuses any other name, and velorin-pack never writes one. */
int IsSafeEntryName(const char *field, size_t fieldSize);

/* How EscapeText treats a backslash. */
#define ESCAPE_BACKSLASH 1
#define KEEP_BACKSLASH 0

/* Copies text (up to its NUL or length bytes) into out as text that cannot
   drive a terminal: printable ASCII and well-formed UTF-8 stay as they are;
   control bytes, DEL, C1 controls and malformed UTF-8 become \xNN. With
   ESCAPE_BACKSLASH a backslash becomes \\, which makes the result
   unambiguous. The result is cut, never inside an escape, to fit outSize
   bytes with its terminating NUL. */
void EscapeText(const char *text, size_t length, char *out, size_t outSize, int backslash);

#endif

#ifndef TEXT_ESCAPE_H
#define TEXT_ESCAPE_H

#include <stddef.h>

/* Text for display, shared by the program and the presentations: names come
   from archives and must never drive a terminal. */

/* How EscapeText treats a backslash. */
#define ESCAPE_BACKSLASH 1
#define KEEP_BACKSLASH 0

/* Copies text (up to its NUL or length bytes) into out as text that cannot
   drive a terminal nor change how the text around it reads: printable
   ASCII and well-formed UTF-8 stay as they are; control bytes, DEL, C1
   controls, malformed UTF-8, and the bytes of the bidirectional controls
   (U+202A to U+202E, U+2066 to U+2069) and invisible characters (U+200B to
   U+200F, U+2060, U+FEFF) become \xNN. With
   ESCAPE_BACKSLASH a backslash becomes \\, which makes the result
   unambiguous. The result is cut, never inside an escape, to fit outSize
   bytes with its terminating NUL. */
void EscapeText(const char *text, size_t length, char *out, size_t outSize, int backslash);

/* The printable character at the start of text, reading at most available
   bytes: its length (1 for printable ASCII, 2 to 4 for well-formed UTF-8),
   with its code point in *codePoint; 0 for a byte that EscapeText escapes. */
size_t ReadPrintableCharacter(const char *text, size_t available, unsigned long *codePoint);

#endif

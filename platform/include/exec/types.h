#ifndef EXEC_TYPES_H
#define EXEC_TYPES_H

/* The system's scalar types. Sizes follow the original 32-bit system; APTR
   and tag data are pointer-wide so that the same code runs on a 64-bit host. */

#include <stddef.h>
#include <stdint.h>

typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint16_t UWORD;
typedef int16_t WORD;
typedef uint8_t UBYTE;
typedef int8_t BYTE;
typedef int16_t BOOL;
typedef void *APTR;
typedef char *STRPTR;
typedef const char *CONST_STRPTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#endif

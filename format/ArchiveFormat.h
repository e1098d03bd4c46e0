#ifndef FORMAT_ARCHIVE_FORMAT_H
#define FORMAT_ARCHIVE_FORMAT_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "ByteOrder.h"

/* The archive stream: an ArchiveHeader, then entries, each a FileHeader and,
   for a file, exactly `size` bytes of data. Integer fields are big-endian. */

struct ArchiveHeader {
    uint8_t version[2];   /* 1, or ARCHIVE_VERSION_LARGE_FILES */
    uint8_t signature[6]; /* ENTRY_FLAGS_SIGNATURE, or anything else */
};

struct FileHeader {
    char name[256]; /* NUL-terminated path relative to the destination */
    uint8_t size[4];
    uint8_t type[2];
    uint8_t flags[2]; /* ENTRY_FLAG_*, only in an archive that carries entry flags */
};

static_assert(sizeof(struct ArchiveHeader) == 8, "ArchiveHeader is 8 bytes");
static_assert(sizeof(struct FileHeader) == 264, "FileHeader is 264 bytes");

#define ARCHIVE_VERSION 1
#define ENTRY_FILE 0
#define ENTRY_DIRECTORY 1

/* An archive whose header holds these six bytes after its version carries
   flags in each entry's last two bytes. Any other six bytes, zeros included,
   mean that those bytes are not flags and are ignored, as every writer that
   knows nothing of flags expects. The high bytes keep text and counters from
   matching by accident. */
#define ENTRY_FLAGS_SIGNATURE "\x56\x6C\x46\x58\xB1\xE7"
static_assert(sizeof ENTRY_FLAGS_SIGNATURE == 7, "the signature fills the header's six last bytes");
/* A file that is a program: it is made executable once it is written. */
#define ENTRY_FLAG_EXECUTABLE 0x0001
/* A file that a later ENTRY_HARD_LINK names: the reader remembers it. */
#define ENTRY_FLAG_LINKED 0x0002
/* A file, directory or link whose name field ends with its own attributes
   (ATTRIBUTES_IN_ENTRY_AT), holding its mode, its time, or both. */
#define ENTRY_FLAG_MODE 0x0004
#define ENTRY_FLAG_TIME 0x0008

/* Whole trees. An archive with the signature may also hold the entries
   below. A reader that knows only types 0 and 1 passes over them, reads no
   data after them and shows their name, so it still makes every file and
   directory right; it only leaves out links, modes and times.

   ENTRY_ATTRIBUTES describes the entry right after it, which must be a
   file, a directory or a symbolic link. Its name field starts with a NUL
   (an older reader shows an empty name) and holds, big-endian:
     bytes 1-2    the permission bits, rwx for owner, group and others
                  (set-user-ID, set-group-ID and sticky are not stored, and
                  bits above 0777 are ignored);
     bytes 3-10   the modification time, signed seconds since 1970;
     bytes 11-14  its nanoseconds, below 1,000,000,000;
     bytes 15-18  the high 32 bits of the next file's size, which must be 0
                  unless the archive is of ARCHIVE_VERSION_LARGE_FILES.
   Its flags field says which of mode and time hold values (ATTRIBUTE_*).
   Where the entry's name (and a link's target) end before byte
   ATTRIBUTES_IN_ENTRY_AT, the same 19 bytes may instead close the entry's
   own name field, flagged ENTRY_FLAG_MODE and ENTRY_FLAG_TIME: no record
   then, and nothing more to read for an entry of a small file.

   ENTRY_SYMBOLIC_LINK and ENTRY_HARD_LINK hold "name\0target\0" in the name
   field: name is the link's path, with the rules of every name; a symbolic
   link's target is what the link holds, relative and inside the
   destination as seen from the link's directory; a hard link's target is
   the name of an earlier file entry flagged ENTRY_FLAG_LINKED.

   A file of 4 GiB or more needs the high size bits: its archive has version
   ARCHIVE_VERSION_LARGE_FILES, which an older reader refuses ("Wrong
   archive version") rather than make a wrong file. */
#define ENTRY_ATTRIBUTES 0x5641    /* "VA" */
#define ENTRY_SYMBOLIC_LINK 0x564C /* "VL" */
#define ENTRY_HARD_LINK 0x5648     /* "VH" */
#define ARCHIVE_VERSION_LARGE_FILES 2

#define ATTRIBUTE_MODE 0x0001
#define ATTRIBUTE_TIME 0x0002

/* Offsets in an ENTRY_ATTRIBUTES name field. */
#define ATTRIBUTES_MODE_AT 1
#define ATTRIBUTES_SECONDS_AT 3
#define ATTRIBUTES_NANOSECONDS_AT 11
#define ATTRIBUTES_SIZE_HIGH_AT 15
#define ATTRIBUTES_END 19
/* Where attributes begin in an entry's own name field. */
#define ATTRIBUTES_IN_ENTRY_AT (256 - ATTRIBUTES_END)

/* The copy buffer's size: the largest piece read and written at once. */
#define BUFFER_SIZE 65535

static inline int HasEntryFlags(const struct ArchiveHeader *archiveHeader)
{
    return memcmp(archiveHeader->signature, ENTRY_FLAGS_SIGNATURE, 6) == 0;
}

#endif

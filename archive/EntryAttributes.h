#ifndef ARCHIVE_ENTRY_ATTRIBUTES_H
#define ARCHIVE_ENTRY_ATTRIBUTES_H

#include <stddef.h>
#include <stdint.h>

#include <dos/dos.h>

#include "../format/ArchiveFormat.h"

/* What an ENTRY_ATTRIBUTES record says of the entry after it. */
struct EntryAttributes {
    int present;
    uint16_t fields; /* ATTRIBUTE_* */
    uint16_t mode;   /* permission bits, 0777 at most */
    int64_t seconds;
    int32_t nanoseconds;
    uint32_t sizehigh;
};

/* The record read last, waiting for the entry it describes. */
extern struct EntryAttributes attributes;

/* Takes an ENTRY_ATTRIBUTES record into attributes: 0, or -1 when the
   record is damaged (no NUL first, nanoseconds out of range, a size of
   4 GiB or more in an archive of version 1) or follows another one. */
int ReadAttributes(const struct FileHeader *entry);

/* Takes the attributes that close an entry's own name field, as its flags
   announce them, into described: 0, or -1 when they are damaged as a record
   can be, or the name field holds more than room leaves them. end is where
   the field's content (a name, or a link's name and target) ends. */
int ReadEntryAttributes(const struct FileHeader *entry, size_t end,
                        struct EntryAttributes *described);

/* The protection bits that give mode, as SetProtection takes them. */
ULONG ProtectionForMode(uint16_t mode);

/* Sets the time that described holds on path, if it holds one: DOSTRUE, or
   DOSFALSE with IoErr() set. */
LONG SetEntryDate(const char *path, const struct EntryAttributes *described);

#endif

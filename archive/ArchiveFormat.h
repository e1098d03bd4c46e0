#ifndef ARCHIVE_ARCHIVE_FORMAT_H
#define ARCHIVE_ARCHIVE_FORMAT_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* The archive stream: an ArchiveHeader, then entries, each a FileHeader and,
   for a file, exactly `size` bytes of data. Integer fields are big-endian. */

struct ArchiveHeader {
    uint8_t version[2];   /* must be 1 */
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

/* The copy buffer's size: the largest piece read and written at once. */
#define BUFFER_SIZE 65535

static inline uint16_t ReadBigEndian16(const uint8_t bytes[2])
{
    return (uint16_t)((bytes[0] << 8) | bytes[1]);
}

static inline uint32_t ReadBigEndian32(const uint8_t bytes[4])
{
    return ((uint32_t)bytes[0] << 24) | ((uint32_t)bytes[1] << 16) | ((uint32_t)bytes[2] << 8) |
           bytes[3];
}

static inline int HasEntryFlags(const struct ArchiveHeader *archiveHeader)
{
    return memcmp(archiveHeader->signature, ENTRY_FLAGS_SIGNATURE, 6) == 0;
}

static inline void WriteBigEndian16(uint8_t bytes[2], uint16_t value)
{
    bytes[0] = (uint8_t)(value >> 8);
    bytes[1] = (uint8_t)value;
}

static inline void WriteBigEndian32(uint8_t bytes[4], uint32_t value)
{
    bytes[0] = (uint8_t)(value >> 24);
    bytes[1] = (uint8_t)(value >> 16);
    bytes[2] = (uint8_t)(value >> 8);
    bytes[3] = (uint8_t)value;
}

#endif

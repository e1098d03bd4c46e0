#ifndef ARCHIVE_ARCHIVE_FORMAT_H
#define ARCHIVE_ARCHIVE_FORMAT_H

#include <stddef.h>
#include <stdint.h>

/* The archive stream: an ArchiveHeader, then entries, each a FileHeader and,
   for a file, exactly `size` bytes of data. Integer fields are big-endian. */

struct ArchiveHeader {
    uint8_t version[2]; /* must be 1 */
    uint8_t reserved[6];
};

struct FileHeader {
    char name[256]; /* NUL-terminated path relative to the destination */
    uint8_t size[4];
    uint8_t type[2];
    uint8_t reserved[2];
};

static_assert(sizeof(struct ArchiveHeader) == 8, "ArchiveHeader is 8 bytes");
static_assert(sizeof(struct FileHeader) == 264, "FileHeader is 264 bytes");

#define ARCHIVE_VERSION 1
#define ENTRY_FILE 0
#define ENTRY_DIRECTORY 1

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

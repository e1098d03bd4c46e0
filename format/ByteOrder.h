#ifndef FORMAT_BYTE_ORDER_H
#define FORMAT_BYTE_ORDER_H

#include <stdint.h>

/* Byte order for every stored number. The archive's records and the
   installer's layout are big-endian, as on the system the format was made
   for, whatever machine reads them; gzip's own fields (and the block
   format's size, which follows them) are little-endian. Written byte by byte,
   so that no alignment is assumed. */

static inline uint16_t ReadBigEndian16(const uint8_t bytes[2])
{
    return (uint16_t)((bytes[0] << 8) | bytes[1]);
}

static inline uint32_t ReadBigEndian32(const uint8_t bytes[4])
{
    return ((uint32_t)bytes[0] << 24) | ((uint32_t)bytes[1] << 16) | ((uint32_t)bytes[2] << 8) |
           bytes[3];
}

static inline uint64_t ReadBigEndian64(const uint8_t bytes[8])
{
    return ((uint64_t)ReadBigEndian32(bytes) << 32) | ReadBigEndian32(bytes + 4);
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

static inline void WriteBigEndian64(uint8_t bytes[8], uint64_t value)
{
    WriteBigEndian32(bytes, (uint32_t)(value >> 32));
    WriteBigEndian32(bytes + 4, (uint32_t)value);
}

static inline uint32_t ReadLittleEndian32(const uint8_t bytes[4])
{
    return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) |
           ((uint32_t)bytes[3] << 24);
}

static inline void WriteLittleEndian32(uint8_t bytes[4], uint32_t value)
{
    bytes[0] = (uint8_t)value;
    bytes[1] = (uint8_t)(value >> 8);
    bytes[2] = (uint8_t)(value >> 16);
    bytes[3] = (uint8_t)(value >> 24);
}

#endif

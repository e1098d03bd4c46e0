#ifndef PLATFORM_STREAM_BLOCK_MEMBER_H
#define PLATFORM_STREAM_BLOCK_MEMBER_H

#include <cstdint>

#include "../../format/BlockLayout.h"

class GzipMember;
struct libdeflate_decompressor;

/* The largest member taken for a block: BLOCK_INPUT_LIMIT bytes of data
   stored in deflate's stored blocks need 5 bytes more per 65,535, and the
   header and trailer come on top; the rest is room to spare. A larger hint
   is read as any other member is. */
constexpr uint32_t BLOCK_MEMBER_LIMIT = BLOCK_INPUT_LIMIT + BLOCK_INPUT_LIMIT / 16 + 1024;

/* The member's size that the BLOCK_HEADER_SIZE bytes of a block header
   give, or 0 when they are not one (other flags, other extra fields, a
   size that cannot hold a member or exceeds BLOCK_MEMBER_LIMIT). */
uint32_t ReadBlockSize(const unsigned char *header);

/* Inflates a whole member of size bytes, whose header ReadBlockSize took,
   into out, which holds BLOCK_INPUT_LIMIT bytes: the count inflated, or -1
   when the member is not exactly that: its deflate data end elsewhere, are
   damaged or inflate to more, or its CRC-32 or length does not match. The
   member is read by inflater, the streaming reader's own, so a block takes
   and refuses exactly what that reader (and zlib) take and refuse. When
   the member's bytes themselves are damaged, so that the streaming reader
   will fail in it too, *damage is that reader's message; it stays null
   for a member that only its size hint misplaced. */
long InflateBlockMember(GzipMember &inflater, const unsigned char *member, uint32_t size,
                        unsigned char *out, const char **damage);

/* The same with libdeflate, which is faster but takes some deflate data
   that zlib refuses (codes that deflate does not define, more codes than
   it has): only for the bytes of a member that InflateBlockMember has
   taken, for which both make the same bytes. */
long InflateAcceptedBlockMember(libdeflate_decompressor *decompressor, const unsigned char *member,
                                uint32_t size, unsigned char *out);

#endif

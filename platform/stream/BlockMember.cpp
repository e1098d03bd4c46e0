#include "BlockMember.h"

#include <libdeflate.h>

#include "../../format/ByteOrder.h"
#include "GzipMember.h"

namespace
{

constexpr unsigned TRAILER_SIZE = 8;

} // namespace

uint32_t ReadBlockSize(const unsigned char *header)
{
    /* FLG holds FEXTRA alone, so that the deflate data begin right after the
       one subfield. */
    if (header[0] != 0x1f || header[1] != 0x8b || header[2] != 8 || header[3] != 0x04)
        return 0;
    if (header[10] != BLOCK_EXTRA_LENGTH || header[11] != 0 || header[12] != BLOCK_SUBFIELD_ID1 ||
        header[13] != BLOCK_SUBFIELD_ID2 || header[14] != BLOCK_SUBFIELD_LENGTH || header[15] != 0)
        return 0;
    uint32_t size = ReadLittleEndian32(header + 16);
    if (size <= BLOCK_HEADER_SIZE + TRAILER_SIZE || size > BLOCK_MEMBER_LIMIT)
        return 0;
    return size;
}

long InflateBlockMember(GzipMember &inflater, const unsigned char *member, uint32_t size,
                        unsigned char *out, const char **damage)
{
    *damage = nullptr;
    inflater.Begin();
    const unsigned char *next = member;
    unsigned available = size, inflated = 0, more = 0;
    GzipMember::Step step = inflater.Inflate(next, available, out, BLOCK_INPUT_LIMIT, &inflated);
    /* A whole block fills out: its trailer follows, and no byte more may. */
    if (step == GzipMember::Step::More)
        step = inflater.Inflate(next, available, out + inflated, 0, &more);
    /* A fault within the hinted bytes is met by any reading of them. A
       short hint leaves the inflater wanting input, and a block that
       inflates to more than BLOCK_INPUT_LIMIT wanting room: no fault. */
    if (step == GzipMember::Step::Failed)
        *damage = inflater.Error();
    if (step != GzipMember::Step::MemberEnd || available != 0)
        return -1;
    return long(inflated);
}

long InflateAcceptedBlockMember(libdeflate_decompressor *decompressor, const unsigned char *member,
                                uint32_t size, unsigned char *out)
{
    size_t deflated = size - BLOCK_HEADER_SIZE - TRAILER_SIZE, taken = 0, inflated = 0;
    if (libdeflate_deflate_decompress_ex(decompressor, member + BLOCK_HEADER_SIZE, deflated, out,
                                         BLOCK_INPUT_LIMIT, &taken,
                                         &inflated) != LIBDEFLATE_SUCCESS ||
        taken != deflated)
        return -1;
    const unsigned char *trailer = member + size - TRAILER_SIZE;
    if (ReadLittleEndian32(trailer) != libdeflate_crc32(0, out, inflated) ||
        ReadLittleEndian32(trailer + 4) != uint32_t(inflated))
        return -1;
    return long(inflated);
}

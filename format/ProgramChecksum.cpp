#include "InstallerLayout.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <libdeflate.h>
#include <unistd.h>

uint32_t ChecksumProgramPart(uint32_t crc, const uint8_t *bytes, size_t length, uint64_t offset,
                             uint64_t slotOffset)
{
    uint64_t end = offset + length;
    uint64_t slotEnd = slotOffset <= UINT64_MAX - INSTALLER_SLOT_SIZE
                           ? slotOffset + INSTALLER_SLOT_SIZE
                           : UINT64_MAX;
    /* The bytes before the slot, then those after it. */
    if (slotOffset > offset)
        crc = libdeflate_crc32(crc, bytes, size_t(std::min(end, slotOffset) - offset));
    if (slotEnd < end) {
        uint64_t from = std::max(slotEnd, offset);
        crc = libdeflate_crc32(crc, bytes + (from - offset), size_t(end - from));
    }
    return crc;
}

bool ChecksumProgramFile(int descriptor, uint64_t archiveStart, uint64_t slotOffset, uint32_t &crc)
{
    /* Read at every start, in pieces that stay in the cache: a larger
       buffer costs more in page faults than it saves in calls. */
    std::vector<uint8_t> piece(size_t(std::min<uint64_t>(archiveStart, 1 << 16)));
    crc = 0;
    for (uint64_t done = 0; done < archiveStart;) {
        size_t wanted = size_t(std::min<uint64_t>(piece.size(), archiveStart - done));
        ssize_t got = pread(descriptor, piece.data(), wanted, off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        crc = ChecksumProgramPart(crc, piece.data(), size_t(got), done, slotOffset);
        done += uint64_t(got);
    }
    return true;
}

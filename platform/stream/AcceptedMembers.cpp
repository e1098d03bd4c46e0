#include "AcceptedMembers.h"

#include <algorithm>
#include <mutex>

#include <libdeflate.h>

namespace
{

struct AcceptedMember {
    uint64_t offset;
    uint32_t size;
    uint32_t fingerprint;
};

/* Nothing here is destroyed at exit: a run that ends early exits while
   threads that inflate ahead may still record. Only the entries written
   become resident. */
std::mutex recordLock;
uint64_t recordedArchive = 0;
AcceptedMember accepted[MOST_ACCEPTED_MEMBERS];
unsigned acceptedCount = 0;
/* Kept in the order of their places once a later reading consults them;
   threads inflating ahead add them in any order. */
bool inOrder = true;

bool IsEarlier(const AcceptedMember &a, const AcceptedMember &b)
{
    return a.offset < b.offset;
}

} // namespace

MemberRecord BeginReading(uint64_t archive)
{
    if (archive == 0)
        return MemberRecord::None;
    std::lock_guard<std::mutex> lock(recordLock);
    if (archive == recordedArchive)
        return MemberRecord::Consult;
    recordedArchive = archive;
    acceptedCount = 0;
    inOrder = true;
    return MemberRecord::Record;
}

uint32_t FingerprintMember(const unsigned char *member, uint32_t size)
{
    return libdeflate_crc32(0, member, size);
}

void RecordAcceptedMember(uint64_t offset, uint32_t size, uint32_t fingerprint)
{
    std::lock_guard<std::mutex> lock(recordLock);
    if (acceptedCount == MOST_ACCEPTED_MEMBERS)
        return;
    if (acceptedCount != 0 && accepted[acceptedCount - 1].offset > offset)
        inOrder = false;
    accepted[acceptedCount++] = {offset, size, fingerprint};
}

bool IsAcceptedMember(uint64_t offset, uint32_t size, uint32_t fingerprint)
{
    std::lock_guard<std::mutex> lock(recordLock);
    AcceptedMember *end = accepted + acceptedCount;
    if (!inOrder) {
        std::sort(accepted, end, IsEarlier);
        inOrder = true;
    }
    AcceptedMember *found =
        std::lower_bound(accepted, end, AcceptedMember{offset, 0, 0}, IsEarlier);
    return found != end && found->offset == offset && found->size == size &&
           found->fingerprint == fingerprint;
}

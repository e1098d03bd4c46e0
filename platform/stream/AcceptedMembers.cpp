#include "AcceptedMembers.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include <libdeflate.h>

namespace
{

struct AcceptedMember {
    uint64_t offset;
    uint32_t size;
    uint32_t fingerprint;
};

std::mutex recordLock;
uint64_t recordedArchive = 0;
/* Kept in the order of their places once a later reading consults them;
   threads inflating ahead add them in any order. */
std::vector<AcceptedMember> accepted;
bool inOrder = true;

} // namespace

MemberRecord BeginReading(uint64_t archive)
{
    if (archive == 0)
        return MemberRecord::None;
    std::lock_guard<std::mutex> lock(recordLock);
    if (archive == recordedArchive)
        return MemberRecord::Consult;
    recordedArchive = archive;
    /* A record of another archive is of no use; its memory goes too. */
    std::vector<AcceptedMember>().swap(accepted);
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
    if (accepted.size() >= MOST_ACCEPTED_MEMBERS)
        return;
    /* Called on the threads that inflate, where nothing may throw: a member
       left out is only inflated exactly again. */
    try {
        accepted.push_back({offset, size, fingerprint});
    } catch (const std::bad_alloc &) {
        return;
    }
    if (accepted.size() > 1 && accepted[accepted.size() - 2].offset > offset)
        inOrder = false;
}

bool IsAcceptedMember(uint64_t offset, uint32_t size, uint32_t fingerprint)
{
    std::lock_guard<std::mutex> lock(recordLock);
    auto byOffset = [](const AcceptedMember &a, const AcceptedMember &b) {
        return a.offset < b.offset;
    };
    if (!inOrder) {
        std::sort(accepted.begin(), accepted.end(), byOffset);
        inOrder = true;
    }
    auto found =
        std::lower_bound(accepted.begin(), accepted.end(), AcceptedMember{offset, 0, 0}, byOffset);
    return found != accepted.end() && found->offset == offset && found->size == size &&
           found->fingerprint == fingerprint;
}

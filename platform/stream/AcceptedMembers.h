#ifndef PLATFORM_STREAM_ACCEPTED_MEMBERS_H
#define PLATFORM_STREAM_ACCEPTED_MEMBERS_H

#include <cstdint>

/* The block members of one archive that the exact inflater (GzipMember)
   took in its first reading, each by its place, size and the CRC-32 of its
   bytes, so that a later reading of the same unchanged file may give just
   those bytes to the faster libdeflate. The record is the process's one:
   it holds one archive at a time and at most MOST_ACCEPTED_MEMBERS members
   (16 bytes each, 1 MiB in all: 64 GiB of stream in full blocks); a member
   beyond, or one not found, is inflated exactly again. Safe to use from
   several threads, also while the process exits. */

constexpr unsigned MOST_ACCEPTED_MEMBERS = 65536;

/* What a reading of archive does with the record: Record for its first
   reading (the record is begun afresh for it), Consult for a later one,
   None for an archive numbered 0, which is read once. */
enum class MemberRecord { None, Record, Consult };
MemberRecord BeginReading(uint64_t archive);

/* The fingerprint of a member's bytes. */
uint32_t FingerprintMember(const unsigned char *member, uint32_t size);

void RecordAcceptedMember(uint64_t offset, uint32_t size, uint32_t fingerprint);
bool IsAcceptedMember(uint64_t offset, uint32_t size, uint32_t fingerprint);

#endif

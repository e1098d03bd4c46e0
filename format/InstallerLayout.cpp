#include "InstallerLayout.h"

#include <cstring>

#include <libdeflate.h>

namespace
{

const uint8_t slotMarker[INSTALLER_MARKER_SIZE] = {INSTALLER_SLOT_MARKER_BYTES};
const uint8_t trailerMagic[8] = INSTALLER_TRAILER_MAGIC;

uint32_t Crc32(const uint8_t *bytes, size_t length)
{
    return libdeflate_crc32(0, bytes, length);
}

void AppendRecord(std::string &bytes, const char *tag, const std::string &content)
{
    uint8_t header[INSTALLER_RECORD_HEADER_SIZE];
    std::memcpy(header, tag, 4);
    WriteBigEndian32(header + 4, uint32_t(content.size()));
    bytes.append(reinterpret_cast<const char *>(header), sizeof header);
    bytes += content;
}

/* The records after the command, into trailer; false when they are not
   whole or not the ones a trailer may hold. */
bool DecodeRecords(const uint8_t *bytes, size_t start, size_t length, InstallerTrailer &trailer)
{
    bool haveLicense = false, haveSignature = false;
    trailer.hasProgramChecksum = false;
    trailer.signatureRecordStart = length;
    for (size_t at = start; at < length;) {
        if (haveSignature || length - at < INSTALLER_RECORD_HEADER_SIZE)
            return false;
        uint64_t size = ReadBigEndian32(bytes + at + 4);
        const char *content =
            reinterpret_cast<const char *>(bytes) + at + INSTALLER_RECORD_HEADER_SIZE;
        if (size > length - at - INSTALLER_RECORD_HEADER_SIZE)
            return false;
        if (std::memcmp(bytes + at, INSTALLER_RECORD_LICENSE, 4) == 0 && !haveLicense &&
            size <= INSTALLER_LICENSE_LIMIT) {
            trailer.license.assign(content, size);
            haveLicense = true;
        } else if (std::memcmp(bytes + at, INSTALLER_RECORD_PROGRAM, 4) == 0 &&
                   !trailer.hasProgramChecksum && size == INSTALLER_PROGRAM_RECORD_SIZE) {
            trailer.programChecksum = ReadBigEndian32(bytes + at + INSTALLER_RECORD_HEADER_SIZE);
            trailer.hasProgramChecksum = true;
        } else if (std::memcmp(bytes + at, INSTALLER_RECORD_SIGNATURE, 4) == 0 &&
                   size <= INSTALLER_SIGNATURE_LIMIT) {
            trailer.signature.assign(content, size);
            trailer.signatureRecordStart = at;
            haveSignature = true;
        } else {
            return false;
        }
        at += INSTALLER_RECORD_HEADER_SIZE + size;
    }
    return true;
}

} // namespace

void EncodeInstallerSlot(const InstallerSlot &slot, uint8_t bytes[INSTALLER_SLOT_SIZE])
{
    std::memcpy(bytes, slotMarker, INSTALLER_MARKER_SIZE);
    WriteBigEndian32(bytes + 16, INSTALLER_LAYOUT_VERSION);
    WriteBigEndian32(bytes + 20, slot.state);
    WriteBigEndian64(bytes + 24, slot.slotOffset);
    WriteBigEndian64(bytes + 32, slot.archiveStart);
    WriteBigEndian64(bytes + 40, slot.archiveLength);
    WriteBigEndian64(bytes + 48, slot.trailerLength);
    WriteBigEndian64(bytes + 56, slot.totalSize);
    WriteBigEndian64(bytes + 64, slot.identity);
}

bool DecodeInstallerSlot(const uint8_t bytes[INSTALLER_SLOT_SIZE], InstallerSlot &slot)
{
    if (std::memcmp(bytes, slotMarker, INSTALLER_MARKER_SIZE) != 0 ||
        ReadBigEndian32(bytes + 16) != INSTALLER_LAYOUT_VERSION)
        return false;
    slot.state = ReadBigEndian32(bytes + 20);
    slot.slotOffset = ReadBigEndian64(bytes + 24);
    slot.archiveStart = ReadBigEndian64(bytes + 32);
    slot.archiveLength = ReadBigEndian64(bytes + 40);
    slot.trailerLength = ReadBigEndian64(bytes + 48);
    slot.totalSize = ReadBigEndian64(bytes + 56);
    slot.identity = ReadBigEndian64(bytes + 64);
    return true;
}

std::string EncodeInstallerTrailer(const InstallerTrailer &trailer)
{
    std::string bytes(INSTALLER_TRAILER_FIXED_SIZE + trailer.command.size(), '\0');
    auto *data = reinterpret_cast<uint8_t *>(bytes.data());
    std::memcpy(data, trailerMagic, sizeof trailerMagic);
    WriteBigEndian32(data + 8, INSTALLER_LAYOUT_VERSION);
    WriteBigEndian64(data + 16, trailer.archiveStart);
    WriteBigEndian64(data + 24, trailer.archiveLength);
    WriteBigEndian64(data + 32, trailer.directories);
    WriteBigEndian64(data + 40, trailer.files);
    WriteBigEndian64(data + 48, trailer.bytes);
    WriteBigEndian32(data + 56, uint32_t(trailer.command.size()));
    std::memcpy(data + INSTALLER_TRAILER_FIXED_SIZE, trailer.command.data(),
                trailer.command.size());
    if (!trailer.license.empty())
        AppendRecord(bytes, INSTALLER_RECORD_LICENSE, trailer.license);
    if (trailer.hasProgramChecksum) {
        uint8_t checksum[INSTALLER_PROGRAM_RECORD_SIZE];
        WriteBigEndian32(checksum, trailer.programChecksum);
        AppendRecord(bytes, INSTALLER_RECORD_PROGRAM,
                     std::string(reinterpret_cast<const char *>(checksum), sizeof checksum));
    }
    if (!trailer.signature.empty())
        AppendRecord(bytes, INSTALLER_RECORD_SIGNATURE, trailer.signature);
    data = reinterpret_cast<uint8_t *>(bytes.data());
    WriteBigEndian32(data + 12, Crc32(data + 16, bytes.size() - 16));
    return bytes;
}

bool DecodeInstallerTrailer(const uint8_t *bytes, size_t length, InstallerTrailer &trailer)
{
    if (length < INSTALLER_TRAILER_FIXED_SIZE ||
        std::memcmp(bytes, trailerMagic, sizeof trailerMagic) != 0 ||
        ReadBigEndian32(bytes + 8) != INSTALLER_LAYOUT_VERSION ||
        ReadBigEndian32(bytes + 12) != Crc32(bytes + 16, length - 16))
        return false;
    uint64_t commandLength = ReadBigEndian32(bytes + 56);
    if (commandLength > length - INSTALLER_TRAILER_FIXED_SIZE ||
        commandLength > INSTALLER_COMMAND_LIMIT ||
        !DecodeRecords(bytes, INSTALLER_TRAILER_FIXED_SIZE + commandLength, length, trailer))
        return false;
    trailer.archiveStart = ReadBigEndian64(bytes + 16);
    trailer.archiveLength = ReadBigEndian64(bytes + 24);
    trailer.directories = ReadBigEndian64(bytes + 32);
    trailer.files = ReadBigEndian64(bytes + 40);
    trailer.bytes = ReadBigEndian64(bytes + 48);
    trailer.command.assign(reinterpret_cast<const char *>(bytes) + INSTALLER_TRAILER_FIXED_SIZE,
                           commandLength);
    return true;
}

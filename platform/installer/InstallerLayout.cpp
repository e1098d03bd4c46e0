#include <installer/layout.h>

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
    PutBigEndian(header + 4, content.size(), 4);
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
        uint64_t size = GetBigEndian(bytes + at + 4, 4);
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
            trailer.programChecksum =
                uint32_t(GetBigEndian(bytes + at + INSTALLER_RECORD_HEADER_SIZE, 4));
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
    PutBigEndian(bytes + 16, INSTALLER_LAYOUT_VERSION, 4);
    PutBigEndian(bytes + 20, slot.state, 4);
    PutBigEndian(bytes + 24, slot.slotOffset, 8);
    PutBigEndian(bytes + 32, slot.archiveStart, 8);
    PutBigEndian(bytes + 40, slot.archiveLength, 8);
    PutBigEndian(bytes + 48, slot.trailerLength, 8);
    PutBigEndian(bytes + 56, slot.totalSize, 8);
    PutBigEndian(bytes + 64, slot.identity, 8);
}

bool DecodeInstallerSlot(const uint8_t bytes[INSTALLER_SLOT_SIZE], InstallerSlot &slot)
{
    if (std::memcmp(bytes, slotMarker, INSTALLER_MARKER_SIZE) != 0 ||
        GetBigEndian(bytes + 16, 4) != INSTALLER_LAYOUT_VERSION)
        return false;
    slot.state = uint32_t(GetBigEndian(bytes + 20, 4));
    slot.slotOffset = GetBigEndian(bytes + 24, 8);
    slot.archiveStart = GetBigEndian(bytes + 32, 8);
    slot.archiveLength = GetBigEndian(bytes + 40, 8);
    slot.trailerLength = GetBigEndian(bytes + 48, 8);
    slot.totalSize = GetBigEndian(bytes + 56, 8);
    slot.identity = GetBigEndian(bytes + 64, 8);
    return true;
}

std::string EncodeInstallerTrailer(const InstallerTrailer &trailer)
{
    std::string bytes(INSTALLER_TRAILER_FIXED_SIZE + trailer.command.size(), '\0');
    auto *data = reinterpret_cast<uint8_t *>(bytes.data());
    std::memcpy(data, trailerMagic, sizeof trailerMagic);
    PutBigEndian(data + 8, INSTALLER_LAYOUT_VERSION, 4);
    PutBigEndian(data + 16, trailer.archiveStart, 8);
    PutBigEndian(data + 24, trailer.archiveLength, 8);
    PutBigEndian(data + 32, trailer.directories, 8);
    PutBigEndian(data + 40, trailer.files, 8);
    PutBigEndian(data + 48, trailer.bytes, 8);
    PutBigEndian(data + 56, trailer.command.size(), 4);
    std::memcpy(data + INSTALLER_TRAILER_FIXED_SIZE, trailer.command.data(),
                trailer.command.size());
    if (!trailer.license.empty())
        AppendRecord(bytes, INSTALLER_RECORD_LICENSE, trailer.license);
    if (trailer.hasProgramChecksum) {
        uint8_t checksum[INSTALLER_PROGRAM_RECORD_SIZE];
        PutBigEndian(checksum, trailer.programChecksum, sizeof checksum);
        AppendRecord(bytes, INSTALLER_RECORD_PROGRAM,
                     std::string(reinterpret_cast<const char *>(checksum), sizeof checksum));
    }
    if (!trailer.signature.empty())
        AppendRecord(bytes, INSTALLER_RECORD_SIGNATURE, trailer.signature);
    data = reinterpret_cast<uint8_t *>(bytes.data());
    PutBigEndian(data + 12, Crc32(data + 16, bytes.size() - 16), 4);
    return bytes;
}

bool DecodeInstallerTrailer(const uint8_t *bytes, size_t length, InstallerTrailer &trailer)
{
    if (length < INSTALLER_TRAILER_FIXED_SIZE ||
        std::memcmp(bytes, trailerMagic, sizeof trailerMagic) != 0 ||
        GetBigEndian(bytes + 8, 4) != INSTALLER_LAYOUT_VERSION ||
        GetBigEndian(bytes + 12, 4) != Crc32(bytes + 16, length - 16))
        return false;
    uint64_t commandLength = GetBigEndian(bytes + 56, 4);
    if (commandLength > length - INSTALLER_TRAILER_FIXED_SIZE ||
        commandLength > INSTALLER_COMMAND_LIMIT ||
        !DecodeRecords(bytes, INSTALLER_TRAILER_FIXED_SIZE + commandLength, length, trailer))
        return false;
    trailer.archiveStart = GetBigEndian(bytes + 16, 8);
    trailer.archiveLength = GetBigEndian(bytes + 24, 8);
    trailer.directories = GetBigEndian(bytes + 32, 8);
    trailer.files = GetBigEndian(bytes + 40, 8);
    trailer.bytes = GetBigEndian(bytes + 48, 8);
    trailer.command.assign(reinterpret_cast<const char *>(bytes) + INSTALLER_TRAILER_FIXED_SIZE,
                           commandLength);
    return true;
}

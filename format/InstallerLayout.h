#ifndef FORMAT_INSTALLER_LAYOUT_H
#define FORMAT_INSTALLER_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteOrder.h"

/* A one-file installer is the velorin program as it was built (the stub),
   then an archive as velorin-pack writes it, then a trailer. The program
   carries a slot: a fixed block of bytes in a section of its own
   (INSTALLER_SECTION), which velorin-pack finds through the program's
   section table and fills in the copy that it writes. At start the program reads its own slot:
   unfilled, it is a plain velorin; filled, it is an installer, and the slot says how long the whole
   file must be, so that a download cut short is told apart from a damaged
   one before anything else is read. Numbers are big-endian. */

/* The slot, INSTALLER_SLOT_SIZE bytes:
     0  marker, the 16 bytes INSTALLER_SLOT_MARKER_BYTES
    16  layout version, INSTALLER_LAYOUT_VERSION (32 bits)
    20  state: 0 a plain velorin, 1 an installer (32 bits)
    24  where the slot lies in the file (64 bits)
    32  where the archive begins: the stub's size (64 bits)
    40  the archive's length (64 bits)
    48  the trailer's length (64 bits)
    56  the whole file's size (64 bits)
    64  an identity that velorin-pack draws for each installer (64 bits)
   An unfilled slot holds zero in every field after the state. */
constexpr size_t INSTALLER_SLOT_SIZE = 72;
#define INSTALLER_SECTION ".velorin_installer"
constexpr size_t INSTALLER_MARKER_SIZE = 16;
#define INSTALLER_SLOT_MARKER_BYTES                                                                \
    'V', 'e', 'l', 'o', 'r', 'i', 'n', 0xA9, 'I', 'n', 's', 't', 's', 'l', 'o', 't'
constexpr uint32_t INSTALLER_LAYOUT_VERSION = 1;
constexpr uint32_t INSTALLER_SLOT_UNFILLED = 0;
constexpr uint32_t INSTALLER_SLOT_FILLED = 1;

struct InstallerSlot {
    uint32_t state = INSTALLER_SLOT_UNFILLED;
    uint64_t slotOffset = 0;
    uint64_t archiveStart = 0;
    uint64_t archiveLength = 0;
    uint64_t trailerLength = 0;
    uint64_t totalSize = 0;
    uint64_t identity = 0;
};

/* The trailer, after the archive:
     0  magic, the 8 bytes INSTALLER_TRAILER_MAGIC
     8  layout version (32 bits)
    12  CRC-32 of every byte from 16 to the end
    16  where the archive begins (64 bits), as in the slot
    24  the archive's length (64 bits), as in the slot
    32  directories, files and bytes in files that the archive holds (64 bits each)
    56  the command's length (32 bits), then the command, without a terminator
   then records, none or several, each a 4-byte tag, a length (32 bits) and
   that many bytes:
     INSTALLER_RECORD_LICENSE  the licence shown before anything is unpacked
     INSTALLER_RECORD_PROGRAM  the CRC-32 of the program part (32 bits), as
                               ChecksumProgramPart gives it; installers made
                               before it existed carry none
     INSTALLER_RECORD_SIGNATURE  a signature over the rest; always the last
   A record of another tag, or one that comes twice, makes the trailer
   damaged: what decides what an installer unpacks and runs is never
   passed over. The CRC-32 keeps a damaged command from ever being run. */
constexpr size_t INSTALLER_TRAILER_FIXED_SIZE = 60;
#define INSTALLER_TRAILER_MAGIC                                                                    \
    {                                                                                              \
        'V', 'l', 'n', 'T', 'r', 'a', 'i', 'l'                                                     \
    }
/* The longest command a trailer holds. */
constexpr uint32_t INSTALLER_COMMAND_LIMIT = 65536;
constexpr size_t INSTALLER_RECORD_HEADER_SIZE = 8;
#define INSTALLER_RECORD_LICENSE "LICN"
#define INSTALLER_RECORD_SIGNATURE "SIGN"
#define INSTALLER_RECORD_PROGRAM "PCRC"
constexpr uint32_t INSTALLER_PROGRAM_RECORD_SIZE = 4;
/* The longest licence and signature a trailer holds. */
constexpr uint32_t INSTALLER_LICENSE_LIMIT = 1u << 20;
constexpr uint32_t INSTALLER_SIGNATURE_LIMIT = 4096;
/* The longest trailer there is. */
constexpr uint64_t INSTALLER_TRAILER_LIMIT =
    INSTALLER_TRAILER_FIXED_SIZE + INSTALLER_COMMAND_LIMIT + 3 * INSTALLER_RECORD_HEADER_SIZE +
    INSTALLER_LICENSE_LIMIT + INSTALLER_PROGRAM_RECORD_SIZE + INSTALLER_SIGNATURE_LIMIT;

struct InstallerTrailer {
    uint64_t archiveStart = 0;
    uint64_t archiveLength = 0;
    uint64_t directories = 0;
    uint64_t files = 0;
    uint64_t bytes = 0;
    std::string command;
    /* Empty when the installer carries none. */
    std::string license;
    /* The program part's CRC-32, when the installer carries it. */
    bool hasProgramChecksum = false;
    uint32_t programChecksum = 0;
    std::string signature;
    /* Where the signature record begins, from the trailer's start: the
       trailer's length when there is none. */
    uint64_t signatureRecordStart = 0;
};

/* The program part is every byte before the archive except the slot's,
   which velorin-pack fills last. Carries its CRC-32 (crc, 0 to begin) over
   length bytes that lie at offset in the file, the slot lying at
   slotOffset; the caller gives no byte at or after the archive. */
uint32_t ChecksumProgramPart(uint32_t crc, const uint8_t *bytes, size_t length, uint64_t offset,
                             uint64_t slotOffset);
/* The same over the program part of the file open at descriptor, read
   once; false with errno set when it cannot be read whole. */
bool ChecksumProgramFile(int descriptor, uint64_t archiveStart, uint64_t slotOffset, uint32_t &crc);

/* The slot's bytes, marker included. */
void EncodeInstallerSlot(const InstallerSlot &slot, uint8_t bytes[INSTALLER_SLOT_SIZE]);
/* False when the bytes are not a slot of this layout version. */
bool DecodeInstallerSlot(const uint8_t bytes[INSTALLER_SLOT_SIZE], InstallerSlot &slot);

std::string EncodeInstallerTrailer(const InstallerTrailer &trailer);
/* False when the bytes are not one whole, undamaged trailer. */
bool DecodeInstallerTrailer(const uint8_t *bytes, size_t length, InstallerTrailer &trailer);

#endif

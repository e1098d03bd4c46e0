#include "InstallerArchive.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../format/InstallerLayout.h"
#include "ElfSection.h"

#include "../platform/stream/HostStream.h"
#include "../platform/stream/ReadFully.h"

namespace
{

/* Where the installer's slot lies, in its section of the program: 0 when
   there is no such section or it cannot hold a slot. */
uint64_t FindSlotOffset(int descriptor, uint64_t fileSize)
{
    auto read = [descriptor](uint64_t at, void *into, size_t length) {
        return ReadAt(descriptor, at, into, length);
    };
    uint64_t offset = 0, size = 0;
    if (!FindElfSection(read, fileSize, INSTALLER_SECTION, offset, size) ||
        size < INSTALLER_SLOT_SIZE)
        return 0;
    return offset;
}

} // namespace

bool HoldInstallerArchive(const std::string &path, std::string &error)
{
    /* Only a regular file is opened: a FIFO or device is left to the
       archive reader, which refuses it without opening it. */
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return true;
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0)
        return true;
    uint8_t slotBytes[INSTALLER_SLOT_SIZE];
    InstallerSlot slot;
    uint64_t slotOffset = 0;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        return true;
    }
    if ((slotOffset = FindSlotOffset(descriptor, uint64_t(status.st_size))) == 0 ||
        !ReadAt(descriptor, slotOffset, slotBytes, sizeof slotBytes) ||
        !DecodeInstallerSlot(slotBytes, slot) || slot.state != INSTALLER_SLOT_FILLED) {
        /* A program is no archive: one without a filled slot is velorin
           itself, another program, or an installer cut before its section
           table or damaged there, which is worth saying. */
        char magic[SELFMAG];
        bool program =
            ReadAt(descriptor, 0, magic, sizeof magic) && std::memcmp(magic, ELFMAG, SELFMAG) == 0;
        close(descriptor);
        if (program)
            error = "not an archive nor a whole installer: a program, or an installer cut short "
                    "or damaged";
        return !program;
    }
    uint64_t size = uint64_t(status.st_size);
    InstallerTrailer trailer;
    std::vector<uint8_t> bytes(
        slot.trailerLength <= INSTALLER_TRAILER_LIMIT ? size_t(slot.trailerLength) : 0);
    uint64_t trailerStart = slot.archiveStart + slot.archiveLength;
    if (size < slot.totalSize) {
        error = "the installer is incomplete: " + std::to_string(size) + " of its " +
                std::to_string(slot.totalSize) + " bytes are there";
    } else if (size > slot.totalSize || bytes.empty() ||
               trailerStart + slot.trailerLength != slot.totalSize ||
               !ReadAt(descriptor, trailerStart, bytes.data(), bytes.size()) ||
               !DecodeInstallerTrailer(bytes.data(), bytes.size(), trailer) ||
               trailer.archiveStart != slot.archiveStart ||
               trailer.archiveLength != slot.archiveLength) {
        error = "the installer is damaged: its parts do not match";
    } else if (uint32_t crc = 0;
               trailer.hasProgramChecksum &&
               (!ChecksumProgramFile(descriptor, slot.archiveStart, slotOffset, crc) ||
                crc != trailer.programChecksum)) {
        error = "the installer is damaged: its program part does not match its checksum";
    } else {
        fcntl(descriptor, F_SETFL, 0);
        HoldArchiveRegion(path.c_str(), {descriptor, slot.archiveStart, slot.archiveLength});
        return true;
    }
    close(descriptor);
    return false;
}

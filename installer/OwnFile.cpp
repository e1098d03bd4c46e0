#include "Installer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../platform/stream/ReadFully.h"

namespace
{

int OpenRegularFile(const char *path)
{
    int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat status;
    if (descriptor >= 0 && (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(descriptor);
        errno = EINVAL;
        return -1;
    }
    if (descriptor >= 0)
        fcntl(descriptor, F_SETFL, 0);
    return descriptor;
}

uint64_t SizeOf(int descriptor)
{
    struct stat status;
    return fstat(descriptor, &status) == 0 ? uint64_t(status.st_size) : 0;
}

/* Whether the file holds this very slot where the slot says it lies (the
   identity tells apart two installers of the same sizes). */
bool HoldsSlot(int descriptor, const InstallerSlot &slot, const uint8_t slotBytes[])
{
    uint8_t found[INSTALLER_SLOT_SIZE];
    return ReadAt(descriptor, slot.slotOffset, found, sizeof found) &&
           std::memcmp(found, slotBytes, sizeof found) == 0;
}

/* Whether the file holds the running program's bytes wherever the program
   never changed them since it was loaded. */
bool HoldsProgram(int descriptor, const OwnImage &image)
{
    std::vector<uint8_t> piece(1 << 16);
    for (const OwnImage::Part &part : image.unchanged) {
        for (uint64_t done = 0; done < part.length;) {
            size_t length = size_t(std::min<uint64_t>(piece.size(), part.length - done));
            if (!ReadAt(descriptor, part.offset + done, piece.data(), length) ||
                std::memcmp(piece.data(), part.memory + done, length) != 0)
                return false;
            done += length;
        }
    }
    return image.known;
}

/* Where /proc is missing (an empty root), or names another program (an
   emulator's), the file is the one the system executed, by the path it was
   given. Only a file the shell could have executed, holding this very
   program and slot, is taken: a copy of the installer elsewhere, with
   another command, may hold the same slot, but the shell did not start it. */
int OpenExecutedFile(const uint8_t slotBytes[], const InstallerSlot &slot, const OwnImage &image,
                     std::string &why, uint64_t &cutSize)
{
    const char *path = GetExecutedPath();
    if (path == nullptr || *path == '\0') {
        why = "the system does not say which file it started";
        return -1;
    }
    std::string shown = std::string("\"") + path + "\"";
    if (access(path, X_OK) != 0) {
        why = shown + " cannot be executed: " + std::strerror(errno);
        return -1;
    }
    int descriptor = OpenRegularFile(path);
    if (descriptor < 0) {
        why = "cannot open " + shown + ": " + std::strerror(errno);
        return -1;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || (status.st_mode & 0111) == 0) {
        why = shown + " cannot be executed";
    } else if (!HoldsSlot(descriptor, slot, slotBytes)) {
        uint64_t size = uint64_t(status.st_size);
        if (size < slot.slotOffset + INSTALLER_SLOT_SIZE)
            cutSize = size;
        why = shown + " is not this installer";
    } else if (!HoldsProgram(descriptor, image)) {
        why = shown + " is not this very program";
    } else {
        return descriptor;
    }
    close(descriptor);
    return -1;
}

/* Whether the program part is the one velorin-pack wrote, where the
   trailer keeps its checksum (installers made earlier keep none): a byte
   changed anywhere in the program's code or data is found before any of it
   decides what is unpacked or run. */
bool HoldsProgramPart(int descriptor, const InstallerSlot &slot, const InstallerTrailer &trailer,
                      std::string &error)
{
    uint32_t crc = 0;
    if (!trailer.hasProgramChecksum)
        return true;
    if (!ChecksumProgramFile(descriptor, slot.archiveStart, slot.slotOffset, crc))
        error = std::string("cannot read the installer's own file: ") + std::strerror(errno);
    else if (crc != trailer.programChecksum)
        error = "the installer is damaged: its program part does not match its checksum";
    else
        return true;
    return false;
}

std::string Incomplete(uint64_t there, uint64_t expected)
{
    return "the installer is incomplete: " + std::to_string(there) + " of its " +
           std::to_string(expected) + " bytes are there (was the download cut short?)";
}

} // namespace

bool OpenOwnFile(const uint8_t slotBytes[INSTALLER_SLOT_SIZE], const InstallerSlot &slot,
                 const OwnImage &image, int &descriptor, InstallerTrailer &trailer,
                 std::string &error)
{
    if (image.known && image.slotOffset != slot.slotOffset) {
        error = "the installer is damaged: its slot does not say where it lies";
        return false;
    }
    /* A file too short to hold the slot is the running one cut short,
       unless another file that holds the slot is found. */
    uint64_t cutSize = UINT64_MAX;
    descriptor = OpenRegularFile("/proc/self/exe");
    if (descriptor >= 0 && !HoldsSlot(descriptor, slot, slotBytes)) {
        uint64_t size = SizeOf(descriptor);
        if (size < slot.slotOffset + INSTALLER_SLOT_SIZE)
            cutSize = size;
        close(descriptor);
        descriptor = -1;
    }
    std::string why;
    if (descriptor < 0)
        descriptor = OpenExecutedFile(slotBytes, slot, image, why, cutSize);
    if (descriptor < 0) {
        if (cutSize != UINT64_MAX)
            error = Incomplete(cutSize, slot.totalSize);
        else
            error = "cannot tell which file is running: " + why;
        return false;
    }
    uint64_t size = SizeOf(descriptor);
    if (size < slot.totalSize || (image.known && size < image.loadedEnd)) {
        error = Incomplete(size, slot.totalSize);
    } else if (size > slot.totalSize) {
        error = "the installer is damaged: it holds " + std::to_string(size) + " bytes, " +
                std::to_string(slot.totalSize) + " were written";
    } else {
        uint64_t trailerStart = slot.archiveStart + slot.archiveLength;
        std::vector<uint8_t> bytes(
            slot.trailerLength <= INSTALLER_TRAILER_LIMIT ? size_t(slot.trailerLength) : 0);
        if (bytes.empty() || trailerStart + slot.trailerLength != slot.totalSize ||
            !ReadAt(descriptor, trailerStart, bytes.data(), bytes.size()) ||
            !DecodeInstallerTrailer(bytes.data(), bytes.size(), trailer) ||
            trailer.archiveStart != slot.archiveStart ||
            trailer.archiveLength != slot.archiveLength)
            error = "the installer is damaged: its trailer does not match its program part";
        else if (HoldsProgramPart(descriptor, slot, trailer, error))
            return true;
    }
    close(descriptor);
    descriptor = -1;
    return false;
}

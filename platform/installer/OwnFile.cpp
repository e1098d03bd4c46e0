#include "Installer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool ReadAt(int descriptor, uint64_t offset, void *into, size_t length)
{
    auto *bytes = static_cast<char *>(into);
    while (length > 0) {
        ssize_t got = pread(descriptor, bytes, length, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        offset += uint64_t(got);
        length -= size_t(got);
    }
    return true;
}

int OpenRegularFile(const std::string &path)
{
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat status;
    if (descriptor >= 0 && (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(descriptor);
        return -1;
    }
    if (descriptor >= 0)
        fcntl(descriptor, F_SETFL, 0);
    return descriptor;
}

/* Whether the file holds this very slot where the slot says it lies: the
   file is the installer that is running (the identity tells apart two
   installers of the same sizes). */
bool HoldsSlot(int descriptor, const InstallerSlot &slot, const uint8_t slotBytes[])
{
    uint8_t found[INSTALLER_SLOT_SIZE];
    return ReadAt(descriptor, slot.slotOffset, found, sizeof found) &&
           std::memcmp(found, slotBytes, sizeof found) == 0;
}

/* Where /proc is missing (an empty root), or names another program (an
   emulator's), the file is found by the name the program was started by,
   as the shell found it. */
int OpenByStartName(const char *startedAs, const InstallerSlot &slot, const uint8_t slotBytes[])
{
    std::vector<std::string> candidates;
    if (std::strchr(startedAs, '/') != nullptr) {
        candidates.push_back(startedAs);
    } else if (const char *path = std::getenv("PATH")) {
        std::string list = path;
        for (size_t start = 0;;) {
            size_t end = list.find(':', start);
            std::string directory = list.substr(start, end - start);
            candidates.push_back((directory.empty() ? "." : directory) + "/" + startedAs);
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    for (const std::string &candidate : candidates) {
        int descriptor = OpenRegularFile(candidate);
        if (descriptor >= 0 && HoldsSlot(descriptor, slot, slotBytes))
            return descriptor;
        if (descriptor >= 0)
            close(descriptor);
    }
    return -1;
}

std::string Incomplete(uint64_t there, uint64_t expected)
{
    return "the installer is incomplete: " + std::to_string(there) + " of its " +
           std::to_string(expected) + " bytes are there (was the download cut short?)";
}

} // namespace

bool OpenOwnFile(const char *startedAs, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                 const InstallerSlot &slot, int &descriptor, InstallerTrailer &trailer,
                 std::string &error)
{
    descriptor = OpenRegularFile("/proc/self/exe");
    if (descriptor >= 0 && !HoldsSlot(descriptor, slot, slotBytes)) {
        close(descriptor);
        descriptor = -1;
    }
    if (descriptor < 0)
        descriptor = OpenByStartName(startedAs, slot, slotBytes);
    if (descriptor < 0) {
        error = "cannot open the installer's own file; start it by its path";
        return false;
    }
    struct stat status;
    fstat(descriptor, &status);
    uint64_t size = uint64_t(status.st_size);
    if (size < slot.totalSize) {
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
        else
            return true;
    }
    close(descriptor);
    descriptor = -1;
    return false;
}

#include "MakeInstaller.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <installer/layout.h>

#include "LicenseFile.h"
#include "OutputFile.h"
#include "ShownName.h"

namespace
{

std::string Reason()
{
    return std::strerror(errno);
}

std::string DirectoryOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

/* The velorin built or installed with this program, in the same directory. */
std::string StubBesideProgram()
{
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return "velorin";
    self[length] = '\0';
    return DirectoryOf(self) + "/velorin";
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error)
{
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot read the program " + ShowName(path) + ": " + Reason();
        return false;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = ShowName(path) + " is not a program";
        close(descriptor);
        return false;
    }
    bytes.resize(size_t(status.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = read(descriptor, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = "cannot read the program " + ShowName(path) + ": " +
                    (got < 0 ? Reason() : std::string("it shrank while it was read"));
            close(descriptor);
            return false;
        }
        done += size_t(got);
    }
    close(descriptor);
    return true;
}

/* Where the section of the given name lies in an ELF file (32 or 64 bits,
   either byte order): false when the file is no ELF file or has no such
   section. */
bool FindSection(const std::vector<uint8_t> &file, const char *wanted, uint64_t &offset,
                 uint64_t &size)
{
    static const uint8_t elfMagic[4] = {0x7f, 'E', 'L', 'F'};
    if (file.size() < 64 || std::memcmp(file.data(), elfMagic, 4) != 0)
        return false;
    bool wide = file[4] == 2;
    bool big = file[5] == 2;
    auto get = [&](uint64_t at, int bytes) -> uint64_t {
        if (at + uint64_t(bytes) > file.size())
            return 0;
        uint64_t value = 0;
        for (int i = 0; i < bytes; i++)
            value |= uint64_t(file[at + uint64_t(big ? bytes - 1 - i : i)]) << (8 * i);
        return value;
    };
    int word = wide ? 8 : 4;
    uint64_t tableOffset = get(wide ? 0x28 : 0x20, word);
    uint64_t entrySize = get(wide ? 0x3A : 0x2E, 2);
    uint64_t count = get(wide ? 0x3C : 0x30, 2);
    uint64_t namesIndex = get(wide ? 0x3E : 0x32, 2);
    auto entry = [&](uint64_t index) { return tableOffset + index * entrySize; };
    uint64_t names = get(entry(namesIndex) + (wide ? 0x18 : 0x10), word);
    size_t wantedLength = std::strlen(wanted) + 1;
    for (uint64_t index = 0; index < count && entrySize != 0; index++) {
        uint64_t name = names + get(entry(index), 4);
        if (name + wantedLength <= file.size() &&
            std::memcmp(file.data() + name, wanted, wantedLength) == 0) {
            offset = get(entry(index) + (wide ? 0x18 : 0x10), word);
            size = get(entry(index) + (wide ? 0x20 : 0x14), word);
            return offset + size <= file.size();
        }
    }
    return false;
}

/* The unfilled slot of a velorin program, in the section that holds it. */
bool FindSlot(const std::vector<uint8_t> &stub, const std::string &path, size_t &offset,
              std::string &error)
{
    uint64_t sectionOffset = 0, sectionSize = 0;
    InstallerSlot slot;
    if (!FindSection(stub, INSTALLER_SECTION, sectionOffset, sectionSize) ||
        sectionSize < INSTALLER_SLOT_SIZE || !DecodeInstallerSlot(&stub[sectionOffset], slot)) {
        error = ShowName(path) + " is not a velorin program that can begin an installer";
        return false;
    }
    offset = size_t(sectionOffset);
    for (size_t i = 20; i < INSTALLER_SLOT_SIZE; i++) {
        if (stub[offset + i] != 0) {
            error = ShowName(path) + " is already an installer";
            return false;
        }
    }
    return true;
}

bool WriteAll(int descriptor, const void *data, size_t length)
{
    auto *bytes = static_cast<const char *>(data);
    while (length > 0) {
        ssize_t written = write(descriptor, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        length -= size_t(written);
    }
    return true;
}

/* An earlier output inside the tree would be packed into the new one. */
bool IsEarlierOutputInTree(const InstallerPlan &plan)
{
    struct stat status;
    if (lstat(plan.output.c_str(), &status) != 0)
        return false;
    char *tree = realpath(plan.sourceDir.c_str(), nullptr);
    char *folder = realpath(DirectoryOf(plan.output).c_str(), nullptr);
    bool inside = false;
    if (tree != nullptr && folder != nullptr) {
        std::string below = std::string(tree) == "/" ? "/" : std::string(tree) + "/";
        inside = std::strcmp(tree, folder) == 0 || std::string(folder).rfind(below, 0) == 0;
    }
    std::free(tree);
    std::free(folder);
    return inside;
}

} // namespace

bool MakeInstaller(const InstallerPlan &plan, const PackReporting &reporting, PackSummary &summary,
                   std::string &error)
{
    if (plan.command.size() > INSTALLER_COMMAND_LIMIT) {
        error = "the command is longer than " + std::to_string(INSTALLER_COMMAND_LIMIT) + " bytes";
        return false;
    }
    std::string license;
    if (!plan.licenseFile.empty() && !ReadLicenseFile(plan.licenseFile, license, error))
        return false;
    if (IsEarlierOutputInTree(plan)) {
        error = ShowName(plan.output) + " lies inside " + ShowName(plan.sourceDir) +
                " and would be packed into itself: remove it first, or write elsewhere";
        return false;
    }
    std::string stubPath = plan.stub.empty() ? StubBesideProgram() : plan.stub;
    std::vector<uint8_t> stub;
    size_t slotOffset = 0;
    if (!ReadWholeFile(stubPath, stub, error) || !FindSlot(stub, stubPath, slotOffset, error))
        return false;

    OutputFile output;
    if (!output.Create(plan.output, 0755, error))
        return false;
    std::string shownOutput = ShowName(plan.output);
    /* The stub goes first with its slot empty; the slot is filled once the
       archive's length is known. */
    if (!WriteAll(output.Descriptor(), stub.data(), stub.size())) {
        error = "cannot write " + shownOutput + ": " + Reason();
        return false;
    }
    if (!PackTreeInto(plan.sourceDir, output.Descriptor(), shownOutput, plan.settings, reporting,
                      summary, error))
        return false;
    off_t archiveEnd = lseek(output.Descriptor(), 0, SEEK_CUR);
    if (archiveEnd < off_t(stub.size())) {
        error = "cannot write " + shownOutput + ": " + Reason();
        return false;
    }

    InstallerTrailer trailer;
    trailer.archiveStart = stub.size();
    trailer.archiveLength = uint64_t(archiveEnd) - stub.size();
    trailer.directories = summary.directories;
    trailer.files = summary.files;
    trailer.bytes = summary.bytes;
    trailer.command = plan.command;
    trailer.license = license;
    std::string trailerBytes = EncodeInstallerTrailer(trailer);
    InstallerSlot slot;
    slot.state = INSTALLER_SLOT_FILLED;
    slot.slotOffset = slotOffset;
    slot.archiveStart = trailer.archiveStart;
    slot.archiveLength = trailer.archiveLength;
    slot.trailerLength = trailerBytes.size();
    slot.totalSize = slot.archiveStart + slot.archiveLength + slot.trailerLength;
    std::random_device random;
    slot.identity = uint64_t(random()) << 32 | random();
    uint8_t slotBytes[INSTALLER_SLOT_SIZE];
    std::memcpy(slotBytes, stub.data() + slotOffset, INSTALLER_SLOT_SIZE);
    EncodeInstallerSlot(slot, slotBytes);
    if (!WriteAll(output.Descriptor(), trailerBytes.data(), trailerBytes.size()) ||
        pwrite(output.Descriptor(), slotBytes, INSTALLER_SLOT_SIZE, off_t(slotOffset)) !=
            ssize_t(INSTALLER_SLOT_SIZE)) {
        error = "cannot write " + shownOutput + ": " + Reason();
        return false;
    }
    return output.Commit(error);
}

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

#include "../format/InstallerLayout.h"

#include "../format/ShownName.h"
#include "ElfSection.h"
#include "LicenseFile.h"
#include "OutputFile.h"
#include "SignArchive.h"

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

/* The unfilled slot of a velorin program, in the section that holds it. */
bool FindSlot(const std::vector<uint8_t> &stub, const std::string &path, size_t &offset,
              std::string &error)
{
    uint64_t sectionOffset = 0, sectionSize = 0;
    InstallerSlot slot;
    if (!FindElfSection(stub, INSTALLER_SECTION, sectionOffset, sectionSize) ||
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
    trailer.hasProgramChecksum = true;
    trailer.programChecksum = ChecksumProgramPart(0, stub.data(), stub.size(), 0, slotOffset);
    std::string trailerBytes = EncodeInstallerTrailer(trailer);
    /* A signature ends the trailer; its length is known before it is made,
       so that the slot it covers can say how long the trailer is. */
    const SecretKey *key = plan.settings.signingKey;
    std::string comment = key != nullptr ? TrustedComment(plan.output) : std::string();
    InstallerSlot slot;
    slot.state = INSTALLER_SLOT_FILLED;
    slot.slotOffset = slotOffset;
    slot.archiveStart = trailer.archiveStart;
    slot.archiveLength = trailer.archiveLength;
    slot.trailerLength =
        trailerBytes.size() + (key != nullptr ? SignatureRecordLength(comment) : 0);
    slot.totalSize = slot.archiveStart + slot.archiveLength + slot.trailerLength;
    std::random_device random;
    slot.identity = uint64_t(random()) << 32 | random();
    uint8_t slotBytes[INSTALLER_SLOT_SIZE];
    std::memcpy(slotBytes, stub.data() + slotOffset, INSTALLER_SLOT_SIZE);
    EncodeInstallerSlot(slot, slotBytes);
    if (key != nullptr) {
        if (!SignInstaller(output.Descriptor(), slotBytes, slot, trailerBytes, *key, comment,
                           trailer.signature, error))
            return false;
        trailerBytes = EncodeInstallerTrailer(trailer);
        if (trailerBytes.size() != slot.trailerLength) {
            error = "the installer's signature is not of the length foreseen";
            return false;
        }
    }
    if (!WriteAll(output.Descriptor(), trailerBytes.data(), trailerBytes.size()) ||
        pwrite(output.Descriptor(), slotBytes, INSTALLER_SLOT_SIZE, off_t(slotOffset)) !=
            ssize_t(INSTALLER_SLOT_SIZE)) {
        error = "cannot write " + shownOutput + ": " + Reason();
        return false;
    }
    /* Signed whole as well, program part included, so that the file can be
       checked with minisign before it is run. */
    return CommitSigned(output, plan.output, key, error);
}

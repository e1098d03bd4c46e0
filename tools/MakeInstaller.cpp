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

#include "RemoveOnSignal.h"

namespace {

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
        error = "cannot read the program " + path + ": " + Reason();
        return false;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = path + " is not a program";
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
            error = "cannot read the program " + path + ": " +
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
        error = path + " is not a velorin program that can begin an installer";
        return false;
    }
    offset = size_t(sectionOffset);
    for (size_t i = 20; i < INSTALLER_SLOT_SIZE; i++) {
        if (stub[offset + i] != 0) {
            error = path + " is already an installer";
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

bool CopyFile(int from, int to)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t got = read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!WriteAll(to, buffer.data(), size_t(got)))
            return false;
    }
}

/* A new file beside path with a name of its own; -1 with errno. */
int CreateBeside(const std::string &path, const char *kind, std::string &name)
{
    std::string leaf = path.substr(path.rfind('/') + 1);
    name = DirectoryOf(path) + "/." + leaf + "." + kind + "-XXXXXX";
    return mkostemp(name.data(), O_CLOEXEC);
}

/* The archive, packed under a name of its own beside the output and
   unlinked at once: its descriptor is all that is kept. */
int PackArchive(const InstallerPlan &plan, const PackReporting &reporting, PackSummary &summary,
                std::string &error)
{
    std::string name;
    int placeholder = CreateBeside(plan.output, "archive", name);
    if (placeholder < 0) {
        error = "cannot create a file beside " + plan.output + ": " + Reason();
        return -1;
    }
    /* The name is only reserved: packing creates the file, and removes
       what it wrote if a signal ends it. */
    close(placeholder);
    unlink(name.c_str());
    if (!PackTree(plan.sourceDir, name, plan.level, reporting, summary, error))
        return -1;
    int descriptor = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        error = "cannot open " + name + ": " + Reason();
    unlink(name.c_str());
    return descriptor;
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

}  // namespace

bool MakeInstaller(const InstallerPlan &plan, const PackReporting &reporting, PackSummary &summary,
                   std::string &error)
{
    if (plan.command.size() > INSTALLER_COMMAND_LIMIT) {
        error = "the command is longer than " + std::to_string(INSTALLER_COMMAND_LIMIT) + " bytes";
        return false;
    }
    if (IsEarlierOutputInTree(plan)) {
        error = plan.output + " lies inside " + plan.sourceDir +
                " and would be packed into itself: remove it first, or write elsewhere";
        return false;
    }
    std::string stubPath = plan.stub.empty() ? StubBesideProgram() : plan.stub;
    std::vector<uint8_t> stub;
    size_t slotOffset = 0;
    if (!ReadWholeFile(stubPath, stub, error) || !FindSlot(stub, stubPath, slotOffset, error))
        return false;

    int archive = PackArchive(plan, reporting, summary, error);
    if (archive < 0)
        return false;
    struct stat archiveStatus;
    fstat(archive, &archiveStatus);

    InstallerTrailer trailer;
    trailer.archiveStart = stub.size();
    trailer.archiveLength = uint64_t(archiveStatus.st_size);
    trailer.directories = summary.directories;
    trailer.files = summary.files;
    trailer.bytes = summary.bytes;
    trailer.command = plan.command;
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
    EncodeInstallerSlot(slot, stub.data() + slotOffset);

    std::string partial;
    int output = CreateBeside(plan.output, "partial", partial);
    if (output < 0) {
        error = "cannot create a file beside " + plan.output + ": " + Reason();
        close(archive);
        return false;
    }
    RemoveOnSignal(partial);
    mode_t mask = umask(0);
    umask(mask);
    bool written = fchmod(output, 0755 & ~mask) == 0 && WriteAll(output, stub.data(), stub.size()) &&
                   CopyFile(archive, output) &&
                   WriteAll(output, trailerBytes.data(), trailerBytes.size());
    if (!written)
        error = "cannot write " + partial + ": " + Reason();
    close(archive);
    if (close(output) != 0 && written) {
        error = "cannot write " + partial + ": " + Reason();
        written = false;
    }
    if (written && std::rename(partial.c_str(), plan.output.c_str()) != 0) {
        error = "cannot rename " + partial + " to " + plan.output + ": " + Reason();
        written = false;
    }
    if (!written)
        unlink(partial.c_str());
    KeepOnSignal();
    return written;
}

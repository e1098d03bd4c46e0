#include "TreeWalk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include "../format/EntryName.h"
#include "../format/LinkTarget.h"
#include "../format/ShownName.h"

namespace
{

/* The names in an open directory in byte order, without "." and "..". A
   fresh opening of the directory is read, so that each walk reads it from
   its start. False with errno set when it cannot be read. */
bool ReadNames(int directory, std::vector<std::string> &names)
{
    int reading = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *stream = reading >= 0 ? fdopendir(reading) : nullptr;
    if (stream == nullptr) {
        int error = errno;
        if (reading >= 0)
            close(reading);
        errno = error;
        return false;
    }
    errno = 0;
    while (dirent *item = readdir(stream)) {
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            names.emplace_back(item->d_name);
    }
    int error = errno;
    closedir(stream);
    errno = error;
    if (error != 0)
        return false;
    std::sort(names.begin(), names.end());
    return true;
}

/* What a symbolic link's target may pass through: anything but another
   link of the tree. */
int PassesNoLink(const char *directory, void *linkNames)
{
    return static_cast<const std::set<std::string> *>(linkNames)->count(directory) == 0;
}

/* Why an archive cannot hold an entry, or empty when it can. */
std::string UnstorableReason(const std::string &name)
{
    if (name.size() > 255)
        return "the name is longer than 255 bytes";
    std::string field = name;
    field.push_back('\0');
    if (!IsSafeEntryName(field.data(), field.size()))
        return "Velorin refuses the name";
    return {};
}

/* Why Velorin would refuse a symbolic link, or empty when it makes it: its
   target leads out of the tree, or through one of linkNames. */
std::string RefusedLinkReason(const std::string &name, const std::string &target,
                              std::set<std::string> &linkNames)
{
    if (name.size() + target.size() > 254)
        return "its name and target are longer than 254 bytes together";
    if (target.find('\0') != std::string::npos ||
        !IsSafeLinkTarget(name.c_str(), target.c_str(), PassesNoLink, &linkNames))
        return "its target " + ShowName(target) + " leads out of the tree";
    return {};
}

/* What a symbolic link holds; false with errno set when it cannot be read. */
bool ReadLinkTarget(int directory, const std::string &leaf, std::string &target)
{
    std::vector<char> buffer(4096);
    ssize_t length = readlinkat(directory, leaf.c_str(), buffer.data(), buffer.size());
    if (length < 0)
        return false;
    target.assign(buffer.data(), size_t(length));
    return true;
}

/* The mode and time of what info describes, and its size's high bits. */
EntryAttributeValues AttributesOf(const struct stat &info, uint16_t fields)
{
    EntryAttributeValues values;
    values.fields = fields;
    values.mode = uint16_t(info.st_mode & 0777);
    values.seconds = int64_t(info.st_mtim.tv_sec);
    values.nanoseconds = uint32_t(info.st_mtim.tv_nsec);
    values.size = S_ISREG(info.st_mode) ? uint64_t(info.st_size) : 0;
    return values;
}

} // namespace

bool TreeWalk::Survey(int root)
{
    packing_ = false;
    return Walk(root, "");
}

bool TreeWalk::Pack(int root, ArchiveWriter &writer, int output)
{
    packing_ = true;
    writer_ = &writer;
    output_ = output;
    outputStart_ = std::max(lseek(output, 0, SEEK_CUR), off_t(0));
    buffer_.resize(1 << 20);
    return Walk(root, "");
}

bool TreeWalk::WriteEntry(FileHeader entry, const struct stat &info, uint16_t fields)
{
    EntryAttributeValues values = AttributesOf(info, fields);
    bool ok = PutAttributesInEntry(entry, values) || writer_->WriteRecord(EncodeAttributes(values));
    return (ok && writer_->WriteRecord(entry)) || Fail(writer_->Error());
}

bool TreeWalk::Walk(int directory, const std::string &prefix)
{
    std::vector<std::string> names;
    if (!ReadNames(directory, names))
        return Fail("cannot read directory " +
                    (prefix.empty() ? ShowName(shownRoot_) : Shown(prefix)) + ": " +
                    std::strerror(errno));
    for (const std::string &leaf : names) {
        std::string name = prefix + leaf;
        bool excluded = false;
        for (const std::string &pattern : settings_.excludes)
            excluded = excluded || fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
        if (!excluded && !Visit(directory, leaf, name))
            return false;
    }
    return true;
}

bool TreeWalk::Visit(int directory, const std::string &leaf, const std::string &name)
{
    struct stat info;
    if (fstatat(directory, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return Fail("cannot examine " + Shown(name) + ": " + std::strerror(errno));
    if (IsArchive(info, name))
        return true;
    if (S_ISLNK(info.st_mode))
        return VisitLink(directory, leaf, name, info);
    if (S_ISDIR(info.st_mode)) {
        if (!Storable(name))
            return error_.empty();
        return VisitDirectory(directory, leaf, name);
    }
    if (!S_ISREG(info.st_mode)) {
        Skip("skipping special file " + ShowName(name));
        return true;
    }
    if (packing_)
        return PackFile(directory, leaf, name);
    if (Storable(name)) {
        /* A file that cannot be read would end the run half-way. */
        if (faccessat(directory, leaf.c_str(), R_OK, AT_EACCESS) != 0)
            return Fail("cannot open " + Shown(name) + ": " + std::strerror(errno));
        progress_.totalFiles++;
        progress_.totalBytes += uint64_t(info.st_size);
        largeFiles_ = largeFiles_ || uint64_t(info.st_size) > 0xFFFFFFFFull;
        if (info.st_nlink > 1)
            names_[IdentityOf(info)]++;
    }
    return error_.empty();
}

bool TreeWalk::VisitLink(int directory, const std::string &leaf, const std::string &name,
                         const struct stat &info)
{
    std::string target;
    if (!ReadLinkTarget(directory, leaf, target)) {
        /* Gone or changed since it was examined: as a file would be. */
        if (errno == EINVAL || errno == ENOENT) {
            Skip("skipping " + ShowName(name) + ": it stopped being a link while it was packed");
            return true;
        }
        return Fail("cannot read link " + Shown(name) + ": " + std::strerror(errno));
    }
    if (!Storable(name))
        return error_.empty();
    /* A link that Velorin would refuse is left out, as every link used to
       be. */
    std::set<std::string> none;
    std::string refused = RefusedLinkReason(name, target, packing_ ? linkNames_ : none);
    if (!packing_) {
        if (refused.empty())
            linkNames_.insert(name);
        return true;
    }
    if (!refused.empty()) {
        Skip("skipping symbolic link " + ShowName(name) + ": " + refused);
        return true;
    }
    bool ok = WriteEntry(EncodeLink(name, target, ENTRY_SYMBOLIC_LINK), info, ATTRIBUTE_TIME);
    summary_.links += ok ? 1 : 0;
    return ok;
}

bool TreeWalk::VisitDirectory(int directory, const std::string &leaf, const std::string &name)
{
    int child = openat(directory, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0 && (errno == ENOTDIR || errno == ELOOP)) {
        Skip("skipping " + ShowName(name) + ": it stopped being a directory while it was packed");
        return true;
    }
    if (child < 0)
        return Fail("cannot read directory " + Shown(name) + ": " + std::strerror(errno));
    bool ok = true;
    if (packing_) {
        struct stat info;
        ok = fstat(child, &info) == 0 ||
             Fail("cannot examine " + Shown(name) + ": " + std::strerror(errno));
        ok = ok && WriteEntry(EncodeFileHeader(name, 0, ENTRY_DIRECTORY), info,
                              ATTRIBUTE_MODE | ATTRIBUTE_TIME);
        summary_.directories += ok ? 1 : 0;
    }
    ok = ok && Walk(child, name + "/");
    close(child);
    return ok;
}

bool TreeWalk::PackFile(int directory, const std::string &leaf, const std::string &name)
{
    /* Opened without waiting: whatever the name has come to be since it was
       examined, a FIFO or a device cannot block the run, and the type and
       size are those of the file actually read. */
    int descriptor =
        openat(directory, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0 && errno == ELOOP) {
        Skip("skipping symbolic link " + ShowName(name));
        return true;
    }
    if (descriptor < 0)
        return Fail("cannot open " + Shown(name) + ": " + std::strerror(errno));
    struct stat info;
    bool ok = fstat(descriptor, &info) == 0 ||
              Fail("cannot examine " + Shown(name) + ": " + std::strerror(errno));
    if (ok && !S_ISREG(info.st_mode)) {
        Skip("skipping special file " + ShowName(name));
        close(descriptor);
        return true;
    }
    if (ok && (IsArchive(info, name) || !Storable(name))) {
        close(descriptor);
        return error_.empty();
    }
    if (ok && uint64_t(info.st_size) > 0xFFFFFFFFull && !largeFiles_) {
        close(descriptor);
        return Fail(Shown(name) + " grew to 4 GiB or more while the tree was being packed");
    }
    /* A file with other names in the tree is packed once, under the first;
       the others become hard links to it, where the name and the first one
       fit into one entry together. */
    uint16_t flags = (info.st_mode & S_IXUSR) != 0 ? ENTRY_FLAG_EXECUTABLE : 0;
    auto named = names_.find(IdentityOf(info));
    if (ok && info.st_nlink > 1 && named != names_.end() && named->second > 1) {
        auto first = firstNames_.find(IdentityOf(info));
        if (first == firstNames_.end()) {
            firstNames_.emplace(IdentityOf(info), name);
            flags |= ENTRY_FLAG_LINKED;
        } else if (name.size() + first->second.size() <= 254) {
            close(descriptor);
            ok = writer_->WriteRecord(EncodeLink(name, first->second, ENTRY_HARD_LINK)) ||
                 Fail(writer_->Error());
            summary_.links += ok ? 1 : 0;
            return ok;
        }
    }
    if (ok)
        fcntl(descriptor, F_SETFL, 0);
    uint64_t size = uint64_t(info.st_size);
    ok = ok && WriteEntry(EncodeFileHeader(name, uint32_t(size), ENTRY_FILE, flags), info,
                          ATTRIBUTE_MODE | ATTRIBUTE_TIME);
    uint64_t left = size;
    while (ok && left > 0) {
        size_t want = size_t(std::min<uint64_t>(left, buffer_.size()));
        ssize_t got = read(descriptor, buffer_.data(), want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = Fail("cannot read " + Shown(name) + ": " + std::strerror(errno));
        else if (got == 0)
            ok = Fail(Shown(name) + " became shorter while it was being packed");
        else if (!writer_->WriteBytes(buffer_.data(), size_t(got)))
            ok = Fail(writer_->Error());
        else {
            left -= uint64_t(got);
            progress_.bytes += uint64_t(got);
            ReportProgress();
        }
    }
    char extra;
    if (ok && read(descriptor, &extra, 1) > 0)
        ok = Fail(Shown(name) + " grew while it was being packed");
    close(descriptor);
    if (ok) {
        summary_.files++;
        summary_.bytes += size;
        progress_.files++;
        ReportProgress();
    }
    return ok;
}

bool TreeWalk::Storable(const std::string &name)
{
    std::string reason = UnstorableReason(name);
    if (reason.empty())
        return true;
    std::string line = ShowName(name) + ": " + reason;
    if (!packing_) {
        unstorableNames_.insert(name);
        unstorable_.push_back(line);
        if (settings_.skipUnstorable)
            reporting_.warn("leaving out " + line);
        return false;
    }
    /* Found and dealt with by the survey; anything else appeared since. */
    if (unstorableNames_.count(name) != 0)
        return false;
    if (!settings_.skipUnstorable)
        return Fail("the archive cannot hold " + line);
    reporting_.warn("leaving out " + line);
    summary_.skipped++;
    return false;
}

bool TreeWalk::IsArchive(const struct stat &info, const std::string &name)
{
    if (std::find(written_.begin(), written_.end(), IdentityOf(info)) != written_.end())
        return true;
    if (std::find(replaced_.begin(), replaced_.end(), IdentityOf(info)) == replaced_.end())
        return false;
    Skip("skipping the archive being replaced, " + ShowName(name));
    return true;
}

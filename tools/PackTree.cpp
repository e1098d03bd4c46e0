#include "PackTree.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../archive/EntryName.h"
#include "ArchiveWriter.h"
#include "ShownName.h"

namespace {

class TreePacker {
public:
    TreePacker(ArchiveWriter &writer, const std::function<void(const std::string &)> &warn,
               PackSummary &summary, const struct stat &output)
        : writer_(writer), warn_(warn), summary_(summary), output_(output)
    {
    }

    bool PackDirectory(const std::string &hostPath, const std::string &prefix);
    const std::string &Error() const { return error_; }

private:
    bool Fail(const std::string &what)
    {
        if (error_.empty())
            error_ = what;
        return false;
    }
    bool CheckName(const std::string &name);
    bool PackFile(const std::string &hostPath, const std::string &name, const struct stat &info);

    ArchiveWriter &writer_;
    const std::function<void(const std::string &)> &warn_;
    PackSummary &summary_;
    struct stat output_;
    std::string error_;
    std::vector<char> buffer_ = std::vector<char>(1 << 20);
};

bool TreePacker::CheckName(const std::string &name)
{
    if (name.size() > 255)
        return Fail("name longer than 255 bytes: " + ShowName(name));
    std::string field = name;
    field.push_back('\0');
    if (!IsSafeEntryName(field.data(), field.size()))
        return Fail("name that Velorin refuses (it holds ':' or a path component it cannot "
                    "place safely): " +
                    ShowName(name));
    return true;
}

bool TreePacker::PackDirectory(const std::string &hostPath, const std::string &prefix)
{
    DIR *directory = opendir(hostPath.c_str());
    if (directory == nullptr)
        return Fail("cannot read directory " + hostPath + ": " + std::strerror(errno));
    std::vector<std::string> names;
    errno = 0;
    while (dirent *item = readdir(directory)) {
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            names.emplace_back(item->d_name);
    }
    int readError = errno;
    closedir(directory);
    if (readError != 0)
        return Fail("cannot read directory " + hostPath + ": " + std::strerror(readError));
    std::sort(names.begin(), names.end());

    for (const std::string &leaf : names) {
        std::string childPath = hostPath + "/" + leaf;
        std::string name = prefix + leaf;
        struct stat info;
        if (lstat(childPath.c_str(), &info) != 0)
            return Fail("cannot examine " + childPath + ": " + std::strerror(errno));
        if (info.st_dev == output_.st_dev && info.st_ino == output_.st_ino)
            continue;
        if (S_ISLNK(info.st_mode)) {
            warn_("skipping symbolic link " + ShowName(name));
            summary_.skipped++;
        } else if (S_ISDIR(info.st_mode)) {
            if (!CheckName(name) || !writer_.WriteEntryHeader(name, 0, ENTRY_DIRECTORY))
                return Fail(writer_.Error());
            summary_.directories++;
            if (!PackDirectory(childPath, name + "/"))
                return false;
        } else if (S_ISREG(info.st_mode)) {
            if (!CheckName(name) || !PackFile(childPath, name, info))
                return false;
        } else {
            warn_("skipping special file " + ShowName(name));
            summary_.skipped++;
        }
    }
    return true;
}

bool TreePacker::PackFile(const std::string &hostPath, const std::string &name,
                          const struct stat &info)
{
    if (uint64_t(info.st_size) > 0xFFFFFFFFull)
        return Fail("file larger than 4,294,967,295 bytes: " + ShowName(name));
    int descriptor = open(hostPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return Fail("cannot open " + hostPath + ": " + std::strerror(errno));
    uint32_t size = uint32_t(info.st_size);
    bool ok = writer_.WriteEntryHeader(name, size, ENTRY_FILE) || Fail(writer_.Error());
    uint64_t left = size;
    while (ok && left > 0) {
        size_t want = size_t(std::min<uint64_t>(left, buffer_.size()));
        ssize_t got = read(descriptor, buffer_.data(), want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = Fail("cannot read " + hostPath + ": " + std::strerror(errno));
        else if (got == 0)
            ok = Fail(hostPath + " became shorter while it was being packed");
        else if (!writer_.WriteBytes(buffer_.data(), size_t(got)))
            ok = Fail(writer_.Error());
        else
            left -= uint64_t(got);
    }
    char extra;
    if (ok && read(descriptor, &extra, 1) > 0)
        ok = Fail(hostPath + " grew while it was being packed");
    close(descriptor);
    if (ok) {
        summary_.files++;
        summary_.bytes += size;
    }
    return ok;
}

}  // namespace

bool PackTree(const std::string &sourceDir, const std::string &archivePath, int level,
              const std::function<void(const std::string &)> &warn, PackSummary &summary,
              std::string &error)
{
    struct stat source;
    if (stat(sourceDir.c_str(), &source) != 0 || !S_ISDIR(source.st_mode)) {
        error = sourceDir + " is not a directory";
        return false;
    }
    std::string partial = archivePath + ".partial";
    ArchiveWriter writer;
    ArchiveHeader header = EncodeArchiveHeader();
    struct stat output;
    if (!writer.Open(partial, level) || stat(partial.c_str(), &output) != 0 ||
        !writer.WriteBytes(&header, sizeof header)) {
        error = writer.Error().empty() ? "cannot create " + partial : writer.Error();
        writer.Close();
        std::remove(partial.c_str());
        return false;
    }
    TreePacker packer(writer, warn, summary, output);
    std::string root = sourceDir;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    bool packed = packer.PackDirectory(root, "");
    bool closed = writer.Close();
    if (!packed || !closed) {
        error = !packed ? packer.Error() : writer.Error();
        std::remove(partial.c_str());
        return false;
    }
    if (std::rename(partial.c_str(), archivePath.c_str()) != 0) {
        error = "cannot rename " + partial + " to " + archivePath + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

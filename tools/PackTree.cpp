#include "PackTree.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../archive/EntryName.h"
#include "ArchiveWriter.h"
#include "RemoveOnSignal.h"
#include "ShownName.h"

namespace {

/* A file of the host, by device and inode. */
struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity &) const = default;
};

FileIdentity IdentityOf(const struct stat &info)
{
    return {info.st_dev, info.st_ino};
}

/* The names below hostPath in byte order, without "." and "..". */
bool ListDirectory(const std::string &hostPath, std::vector<std::string> &names, std::string &error)
{
    DIR *directory = opendir(hostPath.c_str());
    if (directory == nullptr) {
        error = "cannot read directory " + hostPath + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    while (dirent *item = readdir(directory)) {
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            names.emplace_back(item->d_name);
    }
    int readError = errno;
    closedir(directory);
    if (readError != 0) {
        error = "cannot read directory " + hostPath + ": " + std::strerror(readError);
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

/* Adds up the files and bytes that packing will meet, for the progress
   line. Anything it cannot read is left for the packing walk to report. */
void CountTree(const std::string &hostPath, const std::vector<FileIdentity> &archives,
               PackProgress &totals)
{
    std::vector<std::string> names;
    std::string ignored;
    if (!ListDirectory(hostPath, names, ignored))
        return;
    for (const std::string &leaf : names) {
        std::string childPath = hostPath + "/" + leaf;
        struct stat info;
        if (lstat(childPath.c_str(), &info) != 0 ||
            std::find(archives.begin(), archives.end(), IdentityOf(info)) != archives.end())
            continue;
        if (S_ISDIR(info.st_mode)) {
            CountTree(childPath, archives, totals);
        } else if (S_ISREG(info.st_mode)) {
            totals.totalFiles++;
            totals.totalBytes += uint64_t(info.st_size);
        }
    }
}

class TreePacker {
public:
    TreePacker(ArchiveWriter &writer, const PackReporting &reporting, PackSummary &summary,
               std::vector<FileIdentity> archives, const PackProgress &totals)
        : writer_(writer), reporting_(reporting), summary_(summary),
          archives_(std::move(archives)), progress_(totals)
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
    void Skip(const std::string &what)
    {
        reporting_.warn(what);
        summary_.skipped++;
    }
    void ReportProgress()
    {
        if (reporting_.progress)
            reporting_.progress(progress_);
    }

    ArchiveWriter &writer_;
    const PackReporting &reporting_;
    PackSummary &summary_;
    /* The archive being written and the one it replaces. */
    std::vector<FileIdentity> archives_;
    PackProgress progress_;
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
    std::vector<std::string> names;
    std::string listError;
    if (!ListDirectory(hostPath, names, listError))
        return Fail(listError);

    for (const std::string &leaf : names) {
        std::string childPath = hostPath + "/" + leaf;
        std::string name = prefix + leaf;
        struct stat info;
        if (lstat(childPath.c_str(), &info) != 0)
            return Fail("cannot examine " + childPath + ": " + std::strerror(errno));
        if (std::find(archives_.begin(), archives_.end(), IdentityOf(info)) != archives_.end()) {
            Skip("skipping the archive being written, " + ShowName(name));
        } else if (S_ISLNK(info.st_mode)) {
            Skip("skipping symbolic link " + ShowName(name));
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
            Skip("skipping special file " + ShowName(name));
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
    uint16_t flags = (info.st_mode & S_IXUSR) != 0 ? ENTRY_FLAG_EXECUTABLE : 0;
    bool ok = writer_.WriteEntryHeader(name, size, ENTRY_FILE, flags) || Fail(writer_.Error());
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
        else {
            left -= uint64_t(got);
            progress_.bytes += uint64_t(got);
            ReportProgress();
        }
    }
    char extra;
    if (ok && read(descriptor, &extra, 1) > 0)
        ok = Fail(hostPath + " grew while it was being packed");
    close(descriptor);
    if (ok) {
        summary_.files++;
        summary_.bytes += size;
        progress_.files++;
        ReportProgress();
    }
    return ok;
}

}  // namespace

bool PackTree(const std::string &sourceDir, const std::string &archivePath, int level,
              const PackReporting &reporting, PackSummary &summary, std::string &error)
{
    struct stat source;
    if (stat(sourceDir.c_str(), &source) != 0 || !S_ISDIR(source.st_mode)) {
        error = sourceDir + " is not a directory";
        return false;
    }
    std::vector<FileIdentity> archives;
    struct stat replaced;
    if (stat(archivePath.c_str(), &replaced) == 0)
        archives.push_back(IdentityOf(replaced));

    std::string partial = archivePath + ".partial";
    RemoveOnSignal(partial);
    ArchiveWriter writer;
    ArchiveHeader header = EncodeArchiveHeader(true);
    struct stat output;
    if (!writer.Open(partial, level) || stat(partial.c_str(), &output) != 0 ||
        !writer.WriteBytes(&header, sizeof header)) {
        error = writer.Error().empty() ? "cannot create " + partial : writer.Error();
        writer.Close();
        std::remove(partial.c_str());
        KeepOnSignal();
        return false;
    }
    archives.push_back(IdentityOf(output));

    std::string root = sourceDir;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    PackProgress totals;
    if (reporting.progress)
        CountTree(root, archives, totals);
    TreePacker packer(writer, reporting, summary, archives, totals);
    bool packed = packer.PackDirectory(root, "");
    bool closed = writer.Close();
    if (!packed || !closed) {
        error = !packed ? packer.Error() : writer.Error();
        std::remove(partial.c_str());
        KeepOnSignal();
        return false;
    }
    if (std::rename(partial.c_str(), archivePath.c_str()) != 0) {
        error = "cannot rename " + partial + " to " + archivePath + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        KeepOnSignal();
        return false;
    }
    KeepOnSignal();
    return true;
}

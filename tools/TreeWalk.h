#ifndef TOOLS_TREE_WALK_H
#define TOOLS_TREE_WALK_H

#include <compare>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "../format/ShownName.h"
#include "ArchiveWriter.h"
#include "PackTree.h"

/* A file of the host, by device and inode. */
struct FileIdentity {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FileIdentity &) const = default;
};

inline FileIdentity IdentityOf(const struct stat &info)
{
    return {info.st_dev, info.st_ino};
}

/* Walks the tree twice with the same decisions: the survey counts what
   packing will meet and finds everything the archive cannot hold, without
   writing; packing then writes the entries. */
class TreeWalk
{
  public:
    TreeWalk(const std::string &shownRoot, const PackSettings &settings,
             const PackReporting &reporting, PackSummary &summary)
        : shownRoot_(shownRoot), settings_(settings), reporting_(reporting), summary_(summary)
    {
    }

    bool Survey(int root);
    bool Pack(int root, ArchiveWriter &writer, int output);

    /* The archive being replaced is skipped with a warning, the one being
       written silently. */
    void SetArchives(const std::vector<FileIdentity> &replaced,
                     const std::vector<FileIdentity> &written)
    {
        replaced_ = replaced;
        written_ = written;
    }
    const std::vector<std::string> &Unstorable() const { return unstorable_; }
    const std::string &Error() const { return error_; }
    /* Whether a file of 4 GiB or more is to be packed. */
    bool LargeFiles() const { return largeFiles_; }

  private:
    bool Walk(int directory, const std::string &prefix);
    bool Visit(int directory, const std::string &leaf, const std::string &name);
    bool VisitDirectory(int directory, const std::string &leaf, const std::string &name);
    bool PackFile(int directory, const std::string &leaf, const std::string &name);
    bool VisitLink(int directory, const std::string &leaf, const std::string &name,
                   const struct stat &info);
    /* Whether the entry may go on; false when it is left out (or the run
       fails, with error_ set). */
    bool Storable(const std::string &name);
    /* Writes entry with the attributes of info: in its own name field where
       they fit, else in a record before it. */
    bool WriteEntry(FileHeader entry, const struct stat &info, uint16_t fields);
    /* Whether the file is the archive being written or the one it
       replaces, which packing skips with a warning. */
    bool IsArchive(const struct stat &info, const std::string &name);

    bool Fail(const std::string &what)
    {
        if (error_.empty())
            error_ = what;
        return false;
    }
    /* A name as the host knows it, from the source directory as given. */
    std::string Shown(const std::string &name) const
    {
        return ShowName(shownRoot_ == "/" ? "/" + name : shownRoot_ + "/" + name);
    }
    void Skip(const std::string &what)
    {
        if (packing_) {
            reporting_.warn(what);
            summary_.skipped++;
        }
    }
    void ReportProgress()
    {
        if (!reporting_.progress)
            return;
        struct stat archive;
        if (fstat(output_, &archive) == 0 && archive.st_size >= outputStart_)
            progress_.archiveBytes = uint64_t(archive.st_size - outputStart_);
        reporting_.progress(progress_);
    }

    std::string shownRoot_;
    const PackSettings &settings_;
    const PackReporting &reporting_;
    PackSummary &summary_;
    std::vector<FileIdentity> replaced_;
    std::vector<FileIdentity> written_;
    bool packing_ = false;
    ArchiveWriter *writer_ = nullptr;
    int output_ = -1;
    /* Where the archive begins in the output: after an installer's program. */
    off_t outputStart_ = 0;
    PackProgress progress_;
    /* What the survey found the archive cannot hold: names, and lines that
       say why. */
    std::set<std::string> unstorableNames_;
    std::vector<std::string> unstorable_;
    std::string error_;
    std::vector<char> buffer_;
    /* Regular files with more than one name, by how many of them the tree
       holds; and, while packing, the name each was first packed under. */
    std::map<FileIdentity, unsigned> names_;
    std::map<FileIdentity, std::string> firstNames_;
    /* The tree's symbolic links that stay inside it, as the survey found
       them: packing leaves out those whose target passes through one. */
    std::set<std::string> linkNames_;
    bool largeFiles_ = false;
};

#endif

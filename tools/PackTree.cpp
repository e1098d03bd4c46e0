#include "PackTree.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../format/ShownName.h"
#include "ArchiveWriter.h"
#include "OutputFile.h"
#include "SignArchive.h"
#include "TreeWalk.h"

namespace
{

std::string DescribeUnstorable(const std::vector<std::string> &lines)
{
    std::string text = lines.size() == 1
                           ? "the archive cannot hold this entry (leave it out with "
                           : "the archive cannot hold " + std::to_string(lines.size()) +
                                 " entries (leave them out with ";
    text += "-skip-unstorable or -exclude):";
    for (const std::string &line : lines)
        text += "\n  " + line;
    return text;
}

/* Writes the surveyed tree into descriptor, from its current position. */
bool WriteArchiveInto(TreeWalk &walk, int root, int descriptor, const std::string &shownPath,
                      int level, const std::vector<FileIdentity> &replaced, std::string &error)
{
    struct stat written;
    if (fstat(descriptor, &written) != 0) {
        error = "cannot examine " + shownPath + ": " + std::strerror(errno);
        return false;
    }
    walk.SetArchives(replaced, {IdentityOf(written)});
    ArchiveWriter writer;
    ArchiveHeader header = EncodeArchiveHeader(true, walk.LargeFiles());
    bool packed = writer.Open(descriptor, shownPath, level) &&
                  writer.WriteBytes(&header, sizeof header) && walk.Pack(root, writer, descriptor);
    /* Closed in every case, so that nothing of the writer is left half-done. */
    bool closed = writer.Close();
    if (!packed || !closed) {
        error = !walk.Error().empty() ? walk.Error() : writer.Error();
        return false;
    }
    return true;
}

/* Surveys the tree below sourceDir, refuses or skips what an archive cannot
   hold, and hands the walk to write. The file at replacedPath, if any, is
   skipped should it lie in the tree. */
bool SurveyAndWrite(
    const std::string &sourceDir, const std::string &replacedPath, const PackSettings &settings,
    const PackReporting &reporting, PackSummary &summary, std::string &error,
    const std::function<bool(TreeWalk &, int, const std::vector<FileIdentity> &)> &write)
{
    std::string root = sourceDir;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    int rootDirectory = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootDirectory < 0) {
        int reason = errno;
        error = "cannot pack " + ShowName(sourceDir) + ": " +
                (reason == ENOENT    ? "it does not exist"
                 : reason == ENOTDIR ? "it is not a directory"
                                     : std::strerror(reason));
        return false;
    }
    std::vector<FileIdentity> replaced;
    struct stat existing;
    if (stat(replacedPath.c_str(), &existing) == 0)
        replaced.push_back(IdentityOf(existing));

    TreeWalk walk(root, settings, reporting, summary);
    walk.SetArchives(replaced, {});
    bool ok = false;
    bool surveyed = walk.Survey(rootDirectory);
    summary.largeFiles = walk.LargeFiles();
    if (!surveyed) {
        error = walk.Error();
    } else if (!walk.Unstorable().empty() && !settings.skipUnstorable) {
        error = DescribeUnstorable(walk.Unstorable());
    } else {
        summary.skipped += walk.Unstorable().size();
        ok = write(walk, rootDirectory, replaced);
    }
    close(rootDirectory);
    return ok;
}

} // namespace

bool PackTree(const std::string &sourceDir, const std::string &archivePath,
              const PackSettings &settings, const PackReporting &reporting, PackSummary &summary,
              std::string &error)
{
    auto write = [&](TreeWalk &walk, int root, const std::vector<FileIdentity> &replaced) {
        /* The archive takes its name only when it is complete (and signed). */
        OutputFile output;
        return output.Create(archivePath, 0666, error) &&
               WriteArchiveInto(walk, root, output.Descriptor(), ShowName(archivePath),
                                settings.level, replaced, error) &&
               CommitSigned(output, archivePath, settings.signingKey, error);
    };
    return SurveyAndWrite(sourceDir, archivePath, settings, reporting, summary, error, write);
}

bool PackTreeInto(const std::string &sourceDir, int descriptor, const std::string &shownPath,
                  const PackSettings &settings, const PackReporting &reporting,
                  PackSummary &summary, std::string &error)
{
    auto write = [&](TreeWalk &walk, int root, const std::vector<FileIdentity> &replaced) {
        return WriteArchiveInto(walk, root, descriptor, shownPath, settings.level, replaced, error);
    };
    return SurveyAndWrite(sourceDir, std::string(), settings, reporting, summary, error, write);
}

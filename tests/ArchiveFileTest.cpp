#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <stream/gzip.h>

#include "../platform/text/HostReason.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace
{

/* The archive is read twice by name: the stream functions make the second
   reading read the file that the first one did. */
std::string ReadWhole(const std::string &path)
{
    gzFile file = gzopen(path.c_str(), "r");
    if (file == nullptr)
        return "(refused)";
    std::string content;
    char buffer[4096];
    for (int count; (count = gzread(file, buffer, sizeof buffer)) > 0;)
        content.append(buffer, size_t(count));
    gzclose(file);
    return content;
}

TEST(ArchiveFile, SecondOpeningReadsTheFileOfTheFirst)
{
    TempDir dir;
    std::string path = dir / "pkg";
    WriteFile(path, "the first archive");
    EXPECT_EQ(ReadWhole(path), "the first archive");
    /* A newer archive renamed over the name between the two readings. */
    WriteFile(dir / "newer", "a newer archive, of another size");
    ASSERT_EQ(std::rename((dir / "newer").c_str(), path.c_str()), 0);
    EXPECT_EQ(ReadWhole(path), "the first archive");
    /* Another name in between ends that: the name is read afresh. */
    WriteFile(dir / "other", "other");
    EXPECT_EQ(ReadWhole(dir / "other"), "other");
    EXPECT_EQ(ReadWhole(path), "a newer archive, of another size");
}

TEST(ArchiveFile, FileChangedInPlaceBetweenTheReadingsIsRefused)
{
    TempDir dir;
    std::string path = dir / "pkg";
    WriteFile(path, "the first archive");
    EXPECT_EQ(ReadWhole(path), "the first archive");
    WriteFile(path, "rewritten in place");
    EXPECT_EQ(ReadWhole(path), "(refused)");
    EXPECT_STREQ(TakeHostReason(), "The file changed after it was first read");
    /* Read afresh after the refusal. */
    EXPECT_EQ(ReadWhole(path), "rewritten in place");

    /* The same size, with the modification time put back. */
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    WriteFile(path, "REWRITTEN IN PLACE");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(ReadWhole(path), "(refused)");
}

} // namespace

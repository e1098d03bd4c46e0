#include <algorithm>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* A full disk, made with a file size limit on the unpacking process. */
RunResult UnpackWithLimit(const TempDir &dir, const std::string &stream, unsigned long long limit)
{
    WriteArchive(dir / "pkg.gz", stream);
    mkdir((dir / "out").c_str(), 0777);
    RunOptions options;
    options.fileSizeLimit = limit;
    return RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"}, options);
}

TEST(WriteFailure, DataLostWhenTheFileIsClosedIsAWriteError)
{
    /* A network file system reports data it could not store when the file
       is closed; the platform's close fails that way on request. */
    TempDir dir;
    WriteArchive(dir / "pkg.gz", StreamBuilder().File("first", "1").File("after", "2").Bytes());
    mkdir((dir / "out").c_str(), 0777);
    RunOptions options;
    options.environment["VELORIN_HOST_FAIL"] = "fclose";
    RunResult result = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"}, options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Error writing to first: Input/output error\n");
    EXPECT_EQ(SnapshotTree(dir / "out"), (TreeSnapshot{{"first", "file:1"}}));
}

TEST(WriteFailure, FullDiskAtSeveralPointsKeepsWhatCameBefore)
{
    /* The limit is on each file's size: the first file larger than it is
       the one that fails, inside its first piece, exactly at a piece's end,
       or inside a later piece. (It holds for velorin's own report of what
       it left open, too, which needs about 600 bytes.) */
    std::string small = MakeData(3000, 1), big = MakeData(300000, 2);
    std::string stream = StreamBuilder()
                             .Directory("d")
                             .File("d/small", small)
                             .File("d/big", big)
                             .File("d/after", "x")
                             .Bytes();
    struct {
        unsigned long long limit;
        const char *failing;
    } points[] = {{2000, "d/small"}, {40000, "d/big"}, {65535, "d/big"}, {200000, "d/big"}};
    for (const auto &[limit, failing] : points) {
        SCOPED_TRACE(limit);
        TempDir dir;
        RunResult result = UnpackWithLimit(dir, stream, limit);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, std::string("Error writing to ") + failing + ": File too large\n");
        TreeSnapshot tree = SnapshotTree(dir / "out");
        std::string partial = ReadFile(dir / "out" + "/" + failing);
        std::string whole = std::string(failing) == "d/small" ? small : big;
        EXPECT_LE(partial.size(), limit);
        EXPECT_GT(partial.size() + 65535, std::min<size_t>(limit, whole.size()))
            << "every whole piece before the failing one stays";
        EXPECT_TRUE(partial == whole.substr(0, partial.size()))
            << "the partial file holds a prefix";
        if (std::string(failing) == "d/big") {
            EXPECT_EQ(tree["d/small"], "file:" + small);
        }
        EXPECT_EQ(tree.count("d/after"), 0u);
    }
}

} // namespace

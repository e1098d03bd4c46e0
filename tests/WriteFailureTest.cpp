#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace {

/* A full disk, made with a file size limit on the unpacking process. */
RunResult UnpackWithLimit(const TempDir &dir, const std::string &stream, unsigned long long limit)
{
    WriteArchive(dir / "pkg.gz", stream);
    mkdir((dir / "out").c_str(), 0777);
    RunOptions options;
    options.fileSizeLimit = limit;
    return RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"}, options);
}

TEST(WriteFailure, FullDiskDuringAPieceStopsTheRunAsAFailure)
{
    TempDir dir;
    std::string small = MakeData(1000, 1), big = MakeData(300000, 2);
    RunResult result = UnpackWithLimit(
        dir, StreamBuilder().File("small", small).File("big", big).File("after", "x").Bytes(),
        100000);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Error writing to big\n");
    EXPECT_EQ(ReadFile(dir / "out/small"), small);
    /* The partial file stays, holding the start of its data. */
    std::string partial = ReadFile(dir / "out/big");
    EXPECT_LE(partial.size(), 100000u);
    EXPECT_GE(partial.size(), 65535u);
    EXPECT_EQ(partial, big.substr(0, partial.size()));
    EXPECT_EQ(SnapshotTree(dir / "out").count("after"), 0u);
}

TEST(WriteFailure, DataLostWhenTheFileIsClosedIsAWriteError)
{
    /* Small enough to stay in the stream's buffer until the file is closed. */
    TempDir dir;
    RunResult result =
        UnpackWithLimit(dir, StreamBuilder().File("buffered", MakeData(3000, 3)).Bytes(), 1000);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Error writing to buffered\n");
}

}  // namespace

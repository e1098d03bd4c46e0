#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* What a destination may hold; nothing is ever written through a link. */
class Destination : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "out").c_str(), 0777);
        mkdir((dir_ / "elsewhere").c_str(), 0777);
        WriteFile(dir_ / "elsewhere/precious", "must stay as it is");
    }

    RunResult Unpack(const std::string &stream, RunOptions options = {})
    {
        WriteArchive(dir_ / "pkg.gz", stream);
        return RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, options);
    }

    void ExpectElsewhereUntouched()
    {
        EXPECT_EQ(SnapshotTree(dir_ / "elsewhere"),
                  (TreeSnapshot{{"precious", "file:must stay as it is"}}));
    }

    TempDir dir_;
};

TEST_F(Destination, ThatIsAFileIsRefusedAndThatIsALinkIsUsed)
{
    WriteFile(dir_ / "plain", "a file");
    WriteArchive(dir_ / "pkg.gz", StreamBuilder().File("readme", "x").Bytes());
    RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "plain"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err,
              "Unable to change directory to " + (dir_ / "plain") + ": Not a directory\n");
    EXPECT_EQ(ReadFile(dir_ / "plain"), "a file");
    ASSERT_EQ(symlink("out", (dir_ / "link").c_str()), 0);
    result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "link"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "out/readme"), "x");
}

TEST_F(Destination, ThatCannotBeWrittenIsNamedBeforeAnyEntry)
{
    /* Root may write anywhere, so the run is made as another user then. */
    RunOptions options;
    if (geteuid() == 0) {
        options.userId = options.groupId = 65534;
        chmod(dir_.Path().c_str(), 0755);
    }
    chmod((dir_ / "out").c_str(), 0555);
    /* Named before any entry, even one the run would refuse, is read. */
    const std::string message = "-dest " + (dir_ / "out") + ": Permission denied\n";
    std::string cases[] = {
        StreamBuilder().Directory("docs").File("docs/readme", "x").Bytes(),
        StreamBuilder().File("readme", "x").Bytes(),
        StreamBuilder().File("../escape", "x").Bytes(),
    };
    for (const std::string &stream : cases) {
        WriteArchive(dir_ / "pkg.gz", stream);
        chmod((dir_ / "pkg.gz").c_str(), 0644);
        RunResult result =
            RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, options);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, message);
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
    }
}

TEST_F(Destination, OnAReadOnlyFileSystemIsNamedBeforeAnyEntry)
{
    /* Root may not write there either; a file system of the run's own, mounted read-only. */
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    REQUIRE_LIVE_TOOLS("unshare", "mount");
    WriteArchive(dir_ / "pkg.gz", StreamBuilder().File("readme", "x").Bytes());
    std::string output = RunTool(
        {"unshare", "-m", "sh", "-c",
         "mount -t tmpfs -o ro none \"$1\" && VELORIN_HOST_CLOCK=instant \"$2\" -archive \"$3\" "
         "-dest \"$1\" 2>&1; echo \"rc=$?\"",
         "sh", dir_ / "out", VELORIN_BINARY, dir_ / "pkg.gz"});
    EXPECT_EQ(output, "-dest " + (dir_ / "out") + ": Permission denied\nrc=0\n");
}

TEST_F(Destination, ExistingDirectoryWhereAFileComesFails)
{
    mkdir((dir_ / "out/data").c_str(), 0777);
    RunResult result = Unpack(StreamBuilder().File("first", "1").File("data", "x").Bytes());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Unable to create file data: Is a directory\n");
    EXPECT_EQ(ReadFile(dir_ / "out/first"), "1");
}

TEST_F(Destination, ExistingFilesAreReplacedNeverWrittenInPlace)
{
    /* A hard link, a read-only file and another user's file each get a new file. */
    ASSERT_EQ(link((dir_ / "elsewhere/precious").c_str(), (dir_ / "out/linked").c_str()), 0);
    WriteFile(dir_ / "out/readonly", "a longer earlier text");
    WriteFile(dir_ / "out/kept", "kept");
    chmod((dir_ / "out/readonly").c_str(), 0444);
    WriteFile(dir_ / "out/others", "old");
    chmod((dir_ / "out/others").c_str(), 0666);
    bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown((dir_ / "out/others").c_str(), 65534, 65534), 0);
    }
    mode_t previous = umask(022);
    RunResult result = Unpack(StreamBuilder()
                                  .File("linked", "new 1")
                                  .File("readonly", "new 2")
                                  .File("others", "new 3")
                                  .Bytes());
    umask(previous);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    ExpectElsewhereUntouched();
    for (const char *name : {"linked", "readonly", "others"}) {
        struct stat status;
        ASSERT_EQ(stat((dir_ / "out/" + name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0644u) << name;
        EXPECT_EQ(status.st_nlink, 1u) << name;
        EXPECT_EQ(status.st_uid, geteuid()) << name;
    }
    EXPECT_EQ(ReadFile(dir_ / "out/linked"), "new 1");
    EXPECT_EQ(ReadFile(dir_ / "out/readonly"), "new 2");
    EXPECT_EQ(ReadFile(dir_ / "out/kept"), "kept");
    if (!root)
        return;

    /* The directory's permission decides whether another user replaces root's file. */
    RunOptions nobody;
    nobody.userId = nobody.groupId = 65534;
    chmod(dir_.Path().c_str(), 0755);
    chmod((dir_ / "out").c_str(), 0777);
    WriteFile(dir_ / "out/readme", "old");
    WriteArchive(dir_ / "pkg.gz", StreamBuilder().File("readme", "new").Bytes());
    chmod((dir_ / "pkg.gz").c_str(), 0644);
    result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, nobody);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    struct stat status;
    ASSERT_EQ(stat((dir_ / "out/readme").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(ReadFile(dir_ / "out/readme"), "new");

    ASSERT_EQ(unlink((dir_ / "out/readme").c_str()), 0);
    WriteFile(dir_ / "out/readme", "old");
    chmod((dir_ / "out/readme").c_str(), 0666);
    chmod((dir_ / "out").c_str(), 0755);
    result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, nobody);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "-dest " + (dir_ / "out") + ": Permission denied\n");
    EXPECT_EQ(ReadFile(dir_ / "out/readme"), "old");
    /* Only its owner removes a file from a sticky directory. */
    chmod((dir_ / "out").c_str(), 01777);
    result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, nobody);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Unable to create file readme: Operation not permitted\n");
    EXPECT_EQ(ReadFile(dir_ / "out/readme"), "old");
}

TEST_F(Destination, ArchiveInsideItIsReadWholeWhenAnEntryTakesItsName)
{
    std::string later = MakeData(300000, 5);
    WriteArchive(dir_ / "out/pkg.gz",
                 StreamBuilder().File("pkg.gz", "the entry").File("later", later).Bytes());
    RunResult result = RunVelorin({"-archive", dir_ / "out/pkg.gz", "-dest", dir_ / "out"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "out/pkg.gz"), "the entry");
    EXPECT_TRUE(ReadFile(dir_ / "out/later") == later);
}

TEST_F(Destination, SymbolicLinksAreNeverWrittenThrough)
{
    struct {
        const char *link, *target;
        std::string stream, message;
    } cases[] = {
        {"docs", "../elsewhere",
         StreamBuilder().Directory("docs").File("docs/precious", "x").Bytes(),
         "Unable to create docs/precious through a symbolic link\n"},
        {"readme", "../elsewhere/precious", StreamBuilder().File("readme", "x").Bytes(),
         "Unable to create readme through a symbolic link\n"},
        /* A dangling link: writing would create its target. */
        {"new", "../elsewhere/created", StreamBuilder().File("new", "x").Bytes(),
         "Unable to create new through a symbolic link\n"},
        /* A link that stays inside is refused all the same. */
        {"inside", ".", StreamBuilder().Directory("inside").File("inside/f", "x").Bytes(),
         "Unable to create inside/f through a symbolic link\n"},
    };
    for (const auto &[link, target, stream, message] : cases) {
        SCOPED_TRACE(link);
        ASSERT_EQ(symlink(target, (dir_ / "out/" + link).c_str()), 0);
        TreeSnapshot before = SnapshotTree(dir_ / "out");
        RunResult result = Unpack(stream);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, message);
        /* Refused by the sizing pass: nothing was written anywhere. */
        EXPECT_EQ(SnapshotTree(dir_ / "out"), before);
        ExpectElsewhereUntouched();
        unlink((dir_ / "out/" + link).c_str());
    }
}

} // namespace

#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/HeldFile.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace {

/* What a destination may already hold, and destinations that are no place
   to unpack into. Whatever it meets, an entry never writes through a
   symbolic link, so it never reaches outside the destination. */
class Destination : public ::testing::Test {
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

TEST_F(Destination, ThatIsAFileIsRefusedBeforeAnythingIsWritten)
{
    WriteFile(dir_ / "plain", "a file");
    WriteArchive(dir_ / "pkg.gz", StreamBuilder().File("readme", "x").Bytes());
    RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "plain"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Unable to change directory to " + (dir_ / "plain") + "\n");
    EXPECT_EQ(ReadFile(dir_ / "plain"), "a file");
}

TEST_F(Destination, ThatCannotBeWrittenFailsAtTheFirstEntry)
{
    /* Root may write anywhere, so the run is made as another user then. */
    RunOptions options;
    if (geteuid() == 0) {
        options.userId = 65534;
        options.groupId = 65534;
        chmod(dir_.Path().c_str(), 0755);
    }
    chmod((dir_ / "out").c_str(), 0555);
    struct {
        std::string stream, message;
    } cases[] = {
        {StreamBuilder().Directory("docs").File("docs/readme", "x").Bytes(),
         "Unable to create directory docs: Permission denied\n"},
        {StreamBuilder().File("readme", "x").Bytes(), "Unable to create file readme: Permission denied\n"},
    };
    for (const auto &[stream, message] : cases) {
        WriteArchive(dir_ / "pkg.gz", stream);
        chmod((dir_ / "pkg.gz").c_str(), 0644);
        RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, options);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, message);
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
    }
}

TEST_F(Destination, ExistingFilesAndDirectoriesInTheWay)
{
    /* A file where a directory comes counts as that directory, and what
       goes inside it then fails; a directory where a file comes fails. */
    WriteFile(dir_ / "out/docs", "a file named docs");
    RunResult result = Unpack(StreamBuilder().Directory("docs").File("docs/readme", "x").Bytes());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Unable to create file docs/readme: Not a directory\n");
    EXPECT_EQ(ReadFile(dir_ / "out/docs"), "a file named docs");

    mkdir((dir_ / "out/data").c_str(), 0777);
    result = Unpack(StreamBuilder().File("first", "1").File("data", "x").Bytes());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Unable to create file data: Is a directory\n");
    EXPECT_EQ(ReadFile(dir_ / "out/first"), "1");
}

TEST_F(Destination, FileUnderALeaseIsWaitedForNotRefused)
{
    /* As a file server holds a file that someone else has open: the
       opening for writing waits until the lease is given up. */
    HeldFile held(dir_ / "out/data", "an earlier version", HeldFile::AgainstWriting);
    WriteArchive(dir_ / "pkg.gz", StreamBuilder().File("data", "new").Bytes());
    BackgroundVelorin velorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"});
    ASSERT_TRUE(held.WaitUntilWanted());
    held.Release();
    RunResult result = velorin.Finish(120);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(dir_ / "out/data"), "new");
}

TEST_F(Destination, SymbolicLinksAreNeverWrittenThrough)
{
    struct {
        const char *link, *target;
        std::string stream, message;
    } cases[] = {
        /* A directory of the archive that is a link to one elsewhere. */
        {"docs", "../elsewhere", StreamBuilder().Directory("docs").File("docs/precious", "x").Bytes(),
         "Unable to create docs/precious through a symbolic link\n"},
        /* A file of the archive that is a link to a file elsewhere. */
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

TEST_F(Destination, ThatIsItselfALinkIsUsed)
{
    ASSERT_EQ(symlink("out", (dir_ / "link").c_str()), 0);
    WriteArchive(dir_ / "pkg.gz", StreamBuilder().Directory("docs").File("docs/readme", "x").Bytes());
    RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "link"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "out/docs/readme"), "x");
}

}  // namespace

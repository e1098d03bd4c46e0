#include <functional>
#include <string>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* What a user's machine may hold or do, met by the real program. */
class HostFault : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "out").c_str(), 0777);
        WriteArchive(dir_ / "pkg.gz", stream_);
    }

    RunResult Unpack(const std::string &archive, RunOptions options = {})
    {
        return RunVelorin({"-archive", archive, "-dest", dir_ / "out"}, options);
    }

    TempDir dir_;
    std::string stream_ = StreamBuilder()
                              .File("README.txt", "read me")
                              .Directory("docs")
                              .File("docs/readme", "hello")
                              .Bytes();
    const TreeSnapshot complete_ = {
        {"README.txt", "file:read me"}, {"docs", "dir"}, {"docs/readme", "file:hello"}};
};

TEST_F(HostFault, DestinationEndingInAColonHoldsTheEntries)
{
    /* On the host a ':' is part of a directory's name, not a volume. */
    std::string dest = dir_ / "c/inst:";
    mkdir((dir_ / "c").c_str(), 0777);
    mkdir(dest.c_str(), 0777);
    RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dest});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(SnapshotTree(dest), complete_);
    EXPECT_EQ(SnapshotTree(dir_ / "c").size(), 1u + complete_.size());
}

TEST_F(HostFault, ObjectsThatAreNotFilesAreRefusedWithoutWaiting)
{
    std::string path = dir_ / "out/docs/readme";
    auto makeReadFifo = [&] { return mkfifo(path.c_str(), 0666) == 0; };
    struct {
        const char *what;
        std::function<bool()> make;
        bool withReader;
    } cases[] = {
        {"FIFO", makeReadFifo, false},
        {"FIFO with a reader", makeReadFifo, true},
        {"device", [&] { return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }, false},
        {"socket",
         [&] {
             sockaddr_un address = {};
             address.sun_family = AF_UNIX;
             path.copy(address.sun_path, sizeof address.sun_path - 1);
             int server = socket(AF_UNIX, SOCK_STREAM, 0);
             bool made = bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
             close(server);
             return made;
         },
         false},
    };
    for (const auto &[what, make, withReader] : cases) {
        SCOPED_TRACE(what);
        mkdir((dir_ / "out/docs").c_str(), 0777);
        ASSERT_TRUE(make()) << "cannot make the " << what;
        int reader = withReader ? open(path.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        /* A watch sees whether anything opens it, even to write nothing. */
        int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_OPEN), 0);
        BackgroundVelorin velorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"});
        RunResult result = velorin.Finish(60);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "Unable to create file docs/readme: Not a regular file\n");
        EXPECT_EQ(SnapshotTree(dir_ / "out"),
                  (TreeSnapshot{
                      {"README.txt", "file:read me"}, {"docs", "dir"}, {"docs/readme", "other"}}));
        char events[4096];
        EXPECT_LT(read(watch, events, sizeof events), 0) << "the " << what << " was opened";
        close(watch);
        if (reader >= 0) {
            char byte;
            EXPECT_EQ(read(reader, &byte, 1), 0) << "data went into the FIFO";
            close(reader);
        }
        unlink(path.c_str());
    }
}

TEST_F(HostFault, ClosedStandardDescriptorsNeverTakeTextIntoAFile)
{
    RunOptions options;
    options.closeStandardDescriptors = true;
    RunResult result = Unpack(dir_ / "pkg.gz", options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(SnapshotTree(dir_ / "out"), complete_);
    /* A file taking descriptor 2 must not get the error line about itself. */
    std::string data = MakeData(300000, 5);
    WriteArchive(dir_ / "big.gz", StreamBuilder().File("big", data).Bytes());
    options.fileSizeLimit = 100000;
    result = Unpack(dir_ / "big.gz", options);
    EXPECT_EQ(result.exitCode, 0);
    std::string written = ReadFile(dir_ / "out/big");
    EXPECT_GE(written.size(), 65535u);
    EXPECT_TRUE(written == data.substr(0, written.size())) << "the file holds more than its data";
}

TEST_F(HostFault, ArchiveThatIsNotARegularFileIsRefusedBeforeReading)
{
    const std::string why =
        ": Not a regular file: the archive is read twice, so it must be a file\n";
    mkfifo((dir_ / "fifo.gz").c_str(), 0666);
    for (const std::string &archive : {dir_ / "fifo.gz", dir_ / "out"}) {
        SCOPED_TRACE(archive);
        BackgroundVelorin velorin({"-archive", archive, "-dest", dir_ / "out"});
        RunResult result = velorin.Finish(60);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "Unable to open archive " + archive + why);
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
    }
    /* A pipe from another program, as /dev/stdin. */
    RunOptions options;
    AddVelorinControls(options, dir_ / "balance");
    std::string command = "cat " + dir_ / "pkg.gz" + " | " + VELORIN_BINARY +
                          " -archive /dev/stdin -dest " + dir_ / "out";
    RunResult result = RunProgram("/bin/sh", {"-c", command}, options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Unable to open archive /dev/stdin" + why);
    EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
    /* A file given as standard input is a file. */
    command = std::string(VELORIN_BINARY) + " -archive /dev/stdin -dest " + dir_ / "out" + " < " +
              dir_ / "pkg.gz";
    result = RunProgram("/bin/sh", {"-c", command}, options);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(SnapshotTree(dir_ / "out"), complete_);
}

TEST_F(HostFault, ArchivesFromOtherWriters)
{
    /* A trailing '/' names the directory; entries of other types are passed over. */
    std::string stream = StreamBuilder()
                             .Directory("docs/")
                             .File("docs/readme", "hello")
                             .Entry("", 0, 2)
                             .Entry("../../outside", 0, 7)
                             .Entry(std::string(256, 'n'), 0, 3)
                             .Bytes();
    WriteArchive(dir_ / "other.gz", stream);
    RunResult result = Unpack(dir_ / "other.gz");
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(SnapshotTree(dir_.Path()).count("outside"), 0u);
    EXPECT_EQ(SnapshotTree(dir_ / "out"),
              (TreeSnapshot{{"docs", "dir"}, {"docs/readme", "file:hello"}}));
    /* Only one '/' is taken off, and only a directory's. */
    const std::pair<StreamBuilder, std::string> unsafe[] = {
        {StreamBuilder().Directory("docs//"), "Unsafe entry name \"docs//\"\n"},
        {StreamBuilder().File("docs/", "x"), "Unsafe entry name \"docs/\"\n"},
    };
    for (const auto &[builder, message] : unsafe) {
        WriteArchive(dir_ / "other.gz", builder.Bytes());
        result = Unpack(dir_ / "other.gz");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, message);
    }
}

TEST_F(HostFault, DesktopRunTellsTheErrorStreamWhyItFailed)
{
    REQUIRE_LIVE_TOOLS("Xvfb");
    VirtualDisplay display;
    ASSERT_TRUE(display.IsRunning());
    RunOptions options;
    options.environment["DISPLAY"] = display.Name();
    options.environment["VELORIN_HOST_PRESENTATION"] = "desktop";
    RunResult result = Unpack(dir_ / "missing.gz", options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err,
              "Unable to open archive " + dir_ / "missing.gz" + ": No such file or directory\n");
}

} // namespace

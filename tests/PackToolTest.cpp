#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace {

TEST(PackTool, DirectoriesComeBeforeTheirContentsInByteOrder)
{
    TempDir dir;
    std::string src = dir / "src";
    for (const char *sub : {"", "/b", "/a", "/a/Z", "/a/b"})
        mkdir((src + sub).c_str(), 0777);
    WriteFile(src + "/c", "c");
    WriteFile(src + "/a/z", "z");
    WriteFile(src + "/a/b/x", "x");
    WriteFile(src + "/B", "B");
    RunResult result = RunPack({src, dir / "pkg.gz"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Packed 4 directories and 4 files (4 bytes) into " + dir / "pkg.gz" + "\n");
    EXPECT_EQ(ListArchiveNames(dir / "pkg.gz"),
              (std::vector<std::string>{"B", "a", "a/Z", "a/b", "a/b/x", "a/z", "b", "c"}));
}

TEST(PackTool, LevelZeroStoresAPlainStream)
{
    TempDir dir;
    mkdir((dir / "src").c_str(), 0777);
    WriteFile(dir / "src/f", "hello");
    RunResult result = RunPack({dir / "src", dir / "pkg", "-level", "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(dir / "pkg"), StreamBuilder().File("f", "hello").Bytes());
}

TEST(PackTool, SymbolicLinksAndSpecialFilesAreSkippedWithAWarning)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/real", "r");
    ASSERT_EQ(symlink("/etc/passwd", (src + "/link").c_str()), 0);
    ASSERT_EQ(mkfifo((src + "/pipe").c_str(), 0600), 0);
    RunResult result = RunPack({src, dir / "pkg.gz"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err,
              "velorin-pack: warning: skipping symbolic link link\n"
              "velorin-pack: warning: skipping special file pipe\n");
    EXPECT_EQ(ListArchiveNames(dir / "pkg.gz"), std::vector<std::string>{"real"});
}

TEST(PackTool, NamesAndSizesVelorinCannotTakeFailThePackAndWriteNothing)
{
    struct Case {
        std::string what;
        std::function<void(const std::string &)> make;
        std::string message;
    };
    const std::string deep = std::string(200, 'd') + "/" + std::string(55, 'f');
    const Case cases[] = {
        {"colon", [](const std::string &src) { WriteFile(src + "/Work:x", ""); },
         "velorin-pack: name that Velorin refuses (it holds ':' or a path component it cannot "
         "place safely): Work:x\n"},
        {"long name",
         [&](const std::string &src) {
             mkdir((src + "/" + std::string(200, 'd')).c_str(), 0777);
             WriteFile(src + "/" + deep, "");
         },
         "velorin-pack: name longer than 255 bytes: " + deep + "\n"},
        {"huge file",
         [](const std::string &src) {
             int file = open((src + "/huge").c_str(), O_WRONLY | O_CREAT, 0600);
             ASSERT_EQ(ftruncate(file, 4294967296LL), 0);
             close(file);
         },
         "velorin-pack: file larger than 4,294,967,295 bytes: huge\n"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        std::string src = dir / "src";
        mkdir(src.c_str(), 0777);
        WriteFile(src + "/fine", "fine");
        c.make(src);
        RunResult result = RunPack({src, dir / "pkg.gz"});
        EXPECT_EQ(result.exitCode, 1) << c.what;
        EXPECT_EQ(result.err, c.message);
        EXPECT_NE(access((dir / "pkg.gz").c_str(), F_OK), 0) << c.what;
        EXPECT_NE(access((dir / "pkg.gz.partial").c_str(), F_OK), 0) << c.what;
    }
}

TEST(PackTool, BadCommandLinesShowUsage)
{
    TempDir dir;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {dir.Path()}, {dir.Path(), dir / "a", "-level"},
          {dir.Path(), dir / "a", "-level", "10"}, {dir.Path(), dir / "a", "-fast", "1"}}) {
        RunResult result = RunPack(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err.rfind("Usage: velorin-pack SOURCE_DIR ARCHIVE [-level 0-9]\n", 0), 0u);
    }
    RunResult notDirectory = RunPack({dir / "absent", dir / "a"});
    EXPECT_EQ(notDirectory.exitCode, 1);
    EXPECT_EQ(notDirectory.err, "velorin-pack: " + dir / "absent" + " is not a directory\n");
}

TEST(PackTool, ListShowsEveryEntryEscapedAndTheTotals)
{
    TempDir dir;
    std::string stream = StreamBuilder()
                             .Directory("docs")
                             .File("docs/readme", "hello")
                             .Entry("odd\x1b]2;x\x07", 0, 7)
                             .File("empty", "")
                             .Bytes();
    WriteArchive(dir / "pkg.gz", stream);
    RunResult result = RunPack({"-list", dir / "pkg.gz"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out,
              "dir               0  docs\n"
              "file              5  docs/readme\n"
              "type 7            0  odd\\x1b]2;x\\x07\n"
              "file              0  empty\n"
              "4 entries (1 directories, 2 files), 5 bytes in files\n");
}

TEST(PackTool, VerifyNamesTheFirstFaultAndWhereItIs)
{
    TempDir dir;
    std::string stream = StreamBuilder().Directory("docs").File("docs/readme", "hello").Bytes();
    WriteArchive(dir / "good.gz", stream);
    RunResult good = RunPack({"-verify", dir / "good.gz"});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.out, "OK: 2 entries (1 directories, 1 files), 5 bytes in files\n");

    struct {
        std::string bytes, report;
    } faults[] = {
        {stream.substr(0, 5), "FAULT at stream offset 0: Data error while reading archive header\n"},
        {"\0\0\0\1" + stream.substr(4), "FAULT at stream offset 0: Wrong archive version for this program\n"},
        {stream.substr(0, 300), "FAULT at stream offset 272: Error reading archive file header\n"},
        {stream.substr(0, 539), "FAULT at stream offset 536: Error reading docs/readme from archive stream\n"},
        {stream + StreamBuilder().File("../up", "x").Bytes().substr(8),
         "FAULT at stream offset 541: Unsafe entry name \"../up\"\n"},
    };
    for (const auto &[bytes, report] : faults) {
        WriteArchive(dir / "bad.gz", bytes);
        RunResult result = RunPack({"-verify", dir / "bad.gz"});
        EXPECT_EQ(result.exitCode, 1) << report;
        EXPECT_EQ(result.out, report);
    }
    RunResult missing = RunPack({"-verify", dir / "absent.gz"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "FAULT at stream offset 0: Unable to open archive " + (dir / "absent.gz") + "\n");
}

}  // namespace

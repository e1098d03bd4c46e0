#include <string>
#include <vector>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../tools/ProgressLine.h"
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

TEST(PackTool, LevelZeroKeepsGzipsChecksSoThatACutCopyIsRefused)
{
    TempDir dir;
    mkdir((dir / "src").c_str(), 0777);
    WriteFile(dir / "src/a", "hello");
    WriteFile(dir / "src/b", "world");
    RunResult result = RunPack({dir / "src", dir / "pkg", "-level", "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::string archive = ReadFile(dir / "pkg");
    ASSERT_EQ(archive.substr(0, 2), "\x1f\x8b");
    /* Stored, not compressed: the names are there to read. */
    EXPECT_NE(archive.find("hello"), std::string::npos);

    /* Cut right after the first file, where the archive stream itself would
       look complete: gzip's length and CRC-32 are missing, and that shows. */
    size_t cut = archive.find("hello") + 5;
    WriteFile(dir / "cut", archive.substr(0, cut));
    mkdir((dir / "out").c_str(), 0777);
    RunResult unpack = RunVelorin({"-archive", dir / "cut", "-dest", dir / "out"});
    EXPECT_EQ(unpack.exitCode, 0);
    EXPECT_EQ(SnapshotTree(dir / "out"), TreeSnapshot{});
    EXPECT_EQ(RunPack({"-verify", dir / "cut"}).exitCode, 1);
}

TEST(PackTool, TheArchiveBeingWrittenInsideTheTreeIsNeverPacked)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/file", "x");
    RunResult first = RunPack({src, src + "/pkg.gz"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.err, "velorin-pack: warning: skipping the archive being written, pkg.gz.partial\n");
    RunResult second = RunPack({src, src + "/pkg.gz"});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.err,
              "velorin-pack: warning: skipping the archive being written, pkg.gz\n"
              "velorin-pack: warning: skipping the archive being written, pkg.gz.partial\n");
    EXPECT_EQ(ListArchiveNames(src + "/pkg.gz"), std::vector<std::string>{"file"});
}

TEST(PackTool, EndedBySigintOrSigtermItLeavesNoPartialArchive)
{
    /* The suite may run where SIGINT is ignored (a shell's background job);
       a person at a terminal has it at its default. */
    signal(SIGINT, SIG_DFL);
    for (int signalNumber : {SIGINT, SIGTERM}) {
        TempDir dir;
        std::string src = dir / "src";
        mkdir(src.c_str(), 0777);
        /* Four gigabytes of holes take long enough to pack to be interrupted. */
        int file = open((src + "/big").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_EQ(ftruncate(file, 4294967295LL), 0);
        close(file);
        BackgroundProgram pack(VELORIN_PACK_BINARY, {src, dir / "pkg.gz", "-level", "1"});
        for (int waited = 0; access((dir / "pkg.gz.partial").c_str(), F_OK) != 0; waited++) {
            ASSERT_LT(waited, 30000) << "no partial archive appeared";
            usleep(1000);
        }
        kill(pack.Pid(), signalNumber);
        RunResult result = pack.Finish(60);
        EXPECT_EQ(result.exitCode, -1) << "the signal should end it as it ends any program";
        EXPECT_NE(access((dir / "pkg.gz.partial").c_str(), F_OK), 0) << strsignal(signalNumber);
        EXPECT_NE(access((dir / "pkg.gz").c_str(), F_OK), 0) << strsignal(signalNumber);
    }
}

TEST(PackTool, ShowsOneProgressLineOnATerminalAndNoneElsewhere)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/a", MakeData(300000, 1));
    WriteFile(src + "/b", "b");

    RunResult piped = RunPack({src, dir / "piped.gz"});
    ASSERT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.err, "");

    int terminal = -1, side = -1;
    ASSERT_EQ(openpty(&terminal, &side, nullptr, nullptr, nullptr), 0);
    std::string outPath = dir / "out.txt", archivePath = dir / "tty.gz";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(terminal);
        dup2(side, STDERR_FILENO);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        execl(VELORIN_PACK_BINARY, VELORIN_PACK_BINARY, src.c_str(), archivePath.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    close(side);
    std::string shown;
    char buffer[4096];
    for (ssize_t count; (count = read(terminal, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, size_t(count));
    close(terminal);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(shown.find("\rPacking 2/2 files, 293.0 KiB of 293.0 KiB"), std::string::npos) << shown;
    /* Taken away at the end: the last thing written blanks the line. */
    ASSERT_GE(shown.size(), 2u);
    size_t last = shown.rfind('\r', shown.size() - 2);
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(shown.substr(last), "\r" + std::string(shown.size() - last - 2, ' ') + "\r");
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    EXPECT_EQ(ReadFile(outPath), "Packed 0 directories and 2 files (300001 bytes) into " + (dir / "tty.gz") + "\n");
}

TEST(PackTool, TheProgressLineGivesUpDetailRatherThanWrap)
{
    const uint64_t mebibyte = 1024 * 1024;
    PackProgress progress{3811, 12 * mebibyte, 57364, 721 * mebibyte};
    EXPECT_EQ(FormatProgress(progress, 2.0, 200),
              "Packing 3811/57364 files, 12.0 MiB of 721.0 MiB, 6.0 MiB/s, 1:58 left");
    EXPECT_EQ(FormatProgress(progress, 2.0, 60), "3811/57364 files, 12.0 MiB of 721.0 MiB, 1:58 left");
    EXPECT_EQ(FormatProgress(progress, 2.0, 40), "3811/57364 files, 1:58 left");
    EXPECT_EQ(FormatProgress(progress, 2.0, 10), "3811/5736");
    /* No rate and no estimate before there is anything to base them on. */
    EXPECT_EQ(FormatProgress({0, 0, 2, 5}, 0.1, 80), "Packing 0/2 files, 0 B of 5 B");
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
    /* With standard error closed the warnings never reach the archive. */
    RunOptions options;
    options.closeStandardError = true;
    result = RunProgram(VELORIN_PACK_BINARY, {src, dir / "quiet.gz"}, options);
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(RunPack({"-verify", dir / "quiet.gz"}).out,
              "OK: 1 entries (0 directories, 1 files), 1 bytes in files\n");
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

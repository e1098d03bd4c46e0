#include <algorithm>
#include <filesystem>
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

namespace
{

RunResult RunShell(const std::string &script)
{
    return RunProgram("/bin/sh", {"-c", script});
}

void MakeSparseFile(const std::string &path, off_t size)
{
    int file = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(ftruncate(file, size), 0);
    close(file);
}

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
    /* A name with ':' is ordinary here, as in Debian's List::Util.3perl.gz. */
    WriteFile(src + "/b/List::Util.3perl.gz", "");
    RunResult result = RunPack({src, dir / "pkg.gz"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "Packed 4 directories and 5 files (4 bytes) into " + dir / "pkg.gz" + "\n");
    EXPECT_EQ(ListArchiveNames(dir / "pkg.gz"),
              (std::vector<std::string>{"B", "a", "a/Z", "a/b", "a/b/x", "a/z", "b",
                                        "b/List::Util.3perl.gz", "c"}));
    mkdir((dir / "out").c_str(), 0777);
    EXPECT_EQ(RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"}).exitCode, 1);
    EXPECT_EQ(ReadFile(dir / "out/a/b/x"), "x");
    EXPECT_EQ(ReadFile(dir / "out/b/List::Util.3perl.gz"), "");
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

    /* Cut where the stream looks complete: gzip's missing trailer shows. */
    size_t cut = archive.find("hello") + 5;
    WriteFile(dir / "cut", archive.substr(0, cut));
    mkdir((dir / "out").c_str(), 0777);
    RunResult unpack = RunVelorin({"-archive", dir / "cut", "-dest", dir / "out"});
    EXPECT_EQ(unpack.exitCode, 0);
    EXPECT_EQ(SnapshotTree(dir / "out"), TreeSnapshot{});
    EXPECT_EQ(RunPack({"-verify", dir / "cut"}).exitCode, 1);
}

TEST(PackTool, OptionsComeAnywhereInAnyCaseAndMistakesShowUsage)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/a", std::string(1000, 'a'));
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-level", "9", src, dir / "a.gz"},
          {src, "-LEVEL", "0", dir / "a.gz"},
          {src, dir / "a.gz", "-Level", "1"}}) {
        RunResult result = RunPack(args);
        EXPECT_EQ(result.exitCode, 0) << args[0] << result.err;
    }
    EXPECT_EQ(RunPack({dir / "a.gz", "-list"}).exitCode, 0);

    RunResult help = RunPack({"-HELP"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: velorin-pack [OPTIONS] SOURCE_DIR ARCHIVE\n", 0), 0u);
    EXPECT_EQ(help.err, "");
    RunResult version = RunPack({"-version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("velorin-pack ", 0), 0u);

    struct {
        std::vector<std::string> args;
        std::string error;
    } wrong[] = {
        {{}, "packing needs SOURCE_DIR and ARCHIVE"},
        {{src}, "packing needs SOURCE_DIR and ARCHIVE"},
        {{src, dir / "a", "-level"}, "-level needs a level, 0 to 9"},
        {{src, dir / "a", "-level", "10"}, "-level does not take 10"},
        {{src, dir / "a", "-fast"}, "unknown option -fast"},
        {{"-list", "-level", "1", dir / "a.gz"}, "-level is for packing, not for -list"},
        {{"-list", "-verify", dir / "a.gz"}, "-list and -verify cannot be given together"},
        {{"-verify"}, "-verify needs one ARCHIVE"},
    };
    for (const auto &[args, error] : wrong) {
        RunResult result = RunPack(args);
        EXPECT_EQ(result.exitCode, 2) << error;
        EXPECT_EQ(result.err.rfind("velorin-pack: " + error + "\nUsage: velorin-pack", 0), 0u)
            << result.err;
    }
    /* "--" lets an operand begin with '-'. */
    mkdir((dir / "-odd").c_str(), 0777);
    EXPECT_EQ(RunShell("cd " + dir.Path() + " && " VELORIN_PACK_BINARY " -- -odd -odd.gz").exitCode,
              0);

    RunResult absent = RunPack({dir / "absent\x1b[2J", dir / "a"});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.err,
              "velorin-pack: cannot pack " + dir / "absent\\x1b[2J" + ": it does not exist\n");
    RunResult file = RunPack({src + "/a", dir / "a"});
    EXPECT_EQ(file.err, "velorin-pack: cannot pack " + src + "/a: it is not a directory\n");
}

TEST(PackTool, WhatAnArchiveCannotHoldIsAllFoundBeforeAnythingIsWritten)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/fine", "fine");
    const std::string longDirectory = std::string(200, 'd');
    const std::string deep = longDirectory + "/" + std::string(55, 'f');
    mkdir((src + "/" + longDirectory).c_str(), 0777);
    WriteFile(src + "/" + deep, "");
    mkdir((src + "/skip").c_str(), 0777);
    WriteFile(src + "/skip/x", "x");

    RunResult refused = RunPack({src, dir / "pkg.gz"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "velorin-pack: the archive cannot hold this entry (leave it out with "
                           "-skip-unstorable or -exclude):\n  " +
                               deep + ": the name is longer than 255 bytes\n");
    EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"src"});

    RunResult skipped = RunPack({"-skip-unstorable", src, dir / "pkg.gz", "-exclude", "sk*"});
    ASSERT_EQ(skipped.exitCode, 0) << skipped.err;
    EXPECT_EQ(skipped.err, "velorin-pack: warning: leaving out " + deep +
                               ": the name is longer than 255 bytes\n");
    EXPECT_EQ(ListArchiveNames(dir / "pkg.gz"), (std::vector<std::string>{longDirectory, "fine"}));

    /* A pattern is matched against the whole path, '*' crossing '/'. */
    RunResult excluded = RunPack({src, dir / "pkg.gz", "-exclude", "*/f*"});
    ASSERT_EQ(excluded.exitCode, 0) << excluded.err;
    EXPECT_EQ(ListArchiveNames(dir / "pkg.gz"),
              (std::vector<std::string>{longDirectory, "fine", "skip", "skip/x"}));
}

TEST(PackTool, TheArchiveAppearsWholeOrNotAtAllAndNeverThroughAPlantedName)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/file", "x");
    /* The names a temporary file once had are a user's own files and links. */
    WriteFile(dir / "pkg.gz.partial", "mine");
    WriteFile(dir / "target", "untouched");
    ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "pkg.gz.tmp").c_str()), 0);
    mode_t mask = umask(027);
    RunResult first = RunPack({src, dir / "pkg.gz"});
    umask(mask);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(ReadFile(dir / "pkg.gz.partial"), "mine");
    EXPECT_EQ(ReadFile(dir / "target"), "untouched");
    struct stat info;
    ASSERT_EQ(lstat((dir / "pkg.gz").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << "a new file's mode under the umask";

    /* Inside the tree: the old archive is left out with a warning, the new one silently. */
    RunResult inside = RunPack({src, src + "/pkg.gz"});
    ASSERT_EQ(inside.exitCode, 0) << inside.err;
    EXPECT_EQ(RunPack({src, src + "/pkg.gz"}).err,
              "velorin-pack: warning: skipping the archive being replaced, pkg.gz\n");
    EXPECT_EQ(ListArchiveNames(src + "/pkg.gz"), std::vector<std::string>{"file"});

    /* A file size limit is a write error like a full disk. */
    MakeSparseFile(src + "/big", 1 << 20);
    RunOptions limited;
    limited.fileSizeLimit = 64 * 1024;
    RunResult cut = RunProgram(VELORIN_PACK_BINARY, {"-level", "0", src, dir / "big.gz"}, limited);
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.err, "velorin-pack: cannot write " + dir / "big.gz" + ": File too large\n");

    /* Two packs into one name: the last to finish wins, whole. */
    for (const char *tree : {"one", "two"}) {
        mkdir((dir / tree).c_str(), 0777);
        for (int i = 0; i < 8; i++)
            WriteFile(dir / tree + "/" + tree + std::to_string(i), MakeData(1 << 20, unsigned(i)));
    }
    BackgroundProgram one(VELORIN_PACK_BINARY, {dir / "one", dir / "both.gz", "-level", "1"});
    BackgroundProgram two(VELORIN_PACK_BINARY, {dir / "two", dir / "both.gz", "-level", "1"});
    EXPECT_EQ(one.Finish(60).exitCode, 0);
    EXPECT_EQ(two.Finish(60).exitCode, 0);
    RunResult verify = RunPack({"-verify", dir / "both.gz"});
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
    EXPECT_EQ(verify.out, "OK: 8 entries (0 directories, 8 files), 8388608 bytes in files\n");
    EXPECT_EQ(NamesIn(dir.Path()),
              (std::vector<std::string>{"both.gz", "one", "pkg.gz", "pkg.gz.partial", "pkg.gz.tmp",
                                        "src", "target", "two"}));
}

TEST(PackTool, EndedBySigintOrSigtermItLeavesNoPartialArchive)
{
    /* A shell's background job ignores SIGINT; a person's terminal does not. */
    signal(SIGINT, SIG_DFL);
    for (int signalNumber : {SIGINT, SIGTERM}) {
        TempDir dir;
        std::string src = dir / "src";
        mkdir(src.c_str(), 0777);
        /* Four gigabytes of holes take long enough to pack to be interrupted. */
        MakeSparseFile(src + "/big", 4294967295LL);
        BackgroundProgram pack(VELORIN_PACK_BINARY, {src, dir / "pkg.gz", "-level", "1"});
        for (int waited = 0; NamesIn(dir.Path()).size() < 2; waited++) {
            ASSERT_LT(waited, 30000) << "no partial archive appeared";
            usleep(1000);
        }
        kill(pack.Pid(), signalNumber);
        RunResult result = pack.Finish(60);
        EXPECT_EQ(result.exitCode, -1) << "the signal should end it as it ends any program";
        EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"src"}) << strsignal(signalNumber);
    }
}

TEST(PackTool, ShowsOneProgressLineOnATerminalAndNoneElsewhere)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/a", std::string(300000, 'a'));
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
    /* A run of one letter packs to almost nothing. */
    EXPECT_NE(shown.find("\rPacking 2/2 files, 293.0 KiB of 293.0 KiB, archive "),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find(" (0 %)"), std::string::npos) << shown;
    /* Taken away at the end: the last thing written blanks the line. */
    ASSERT_GE(shown.size(), 2u);
    size_t last = shown.rfind('\r', shown.size() - 2);
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(shown.substr(last), "\r" + std::string(shown.size() - last - 2, ' ') + "\r");
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    EXPECT_EQ(ReadFile(outPath),
              "Packed 0 directories and 2 files (300001 bytes) into " + (dir / "tty.gz") + "\n");

    /* However narrow the terminal, the line never reaches its last column. */
    const uint64_t mebibyte = 1024 * 1024;
    PackProgress progress{3811, 12 * mebibyte, 57364, 721 * mebibyte, 5 * mebibyte};
    for (size_t width = 1; width <= 120; width++)
        EXPECT_LT(FormatProgress(progress, 2.0, width).size(), width);
}

TEST(PackTool, WhatItSkipsOrCannotReadIsNamedWithControlBytesEscaped)
{
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0777);
    WriteFile(src + "/real", "r");
    ASSERT_EQ(symlink("/etc/passwd", (src + "/link").c_str()), 0);
    ASSERT_EQ(mkfifo((src + "/pipe\x1b[2J").c_str(), 0600), 0);
    /* Found before anything is packed. */
    WriteFile(src + "/secret\x07", "s");
    chmod((src + "/secret\x07").c_str(), 0);
    chmod(dir.Path().c_str(), 0777);
    RunOptions other;
    if (geteuid() == 0)
        other.userId = other.groupId = 65534;
    RunResult unreadable = RunProgram(VELORIN_PACK_BINARY, {src, dir / "pkg.gz"}, other);
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_EQ(unreadable.err,
              "velorin-pack: cannot open " + src + "/secret\\x07: Permission denied\n");
    EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"src"});
    unlink((src + "/secret\x07").c_str());

    RunResult result = RunPack({src, dir / "pkg.gz"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "velorin-pack: warning: skipping symbolic link link: its target "
                          "/etc/passwd leads out of the tree\n"
                          "velorin-pack: warning: skipping special file pipe\\x1b[2J\n");
    EXPECT_EQ(ListArchiveNames(dir / "pkg.gz"), std::vector<std::string>{"real"});
    /* With standard error closed the warnings never reach the archive. */
    RunOptions options;
    options.closeStandardError = true;
    result = RunProgram(VELORIN_PACK_BINARY, {src, dir / "quiet.gz"}, options);
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(RunPack({"-verify", dir / "quiet.gz"}).out,
              "OK: 1 entry (0 directories, 1 file), 1 byte in files\n");
}

TEST(PackTool, ListShowsEveryEntryAndVerifyTheFirstFaultAndWhereItIs)
{
    TempDir dir;
    std::string stream = StreamBuilder()
                             .Directory("docs")
                             .File("docs/readme", "hello")
                             .Entry("odd\x1b]2;x\x07", 0, 7)
                             .File("empty", "")
                             .Bytes();
    WriteArchive(dir / "pkg.gz", stream);
    RunResult list = RunPack({"-list", dir / "pkg.gz"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "dir               0  docs\n"
                        "file              5  docs/readme\n"
                        "type 7            0  odd\\x1b]2;x\\x07\n"
                        "file              0  empty\n"
                        "4 entries (1 directory, 2 files), 5 bytes in files\n");

    stream = StreamBuilder().Directory("docs").File("docs/readme", "hello").Bytes();
    WriteArchive(dir / "good.gz", stream);
    RunResult good = RunPack({"-verify", dir / "good.gz"});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.out, "OK: 2 entries (1 directory, 1 file), 5 bytes in files\n");

    struct {
        std::string bytes, report;
    } faults[] = {
        {stream.substr(0, 5),
         "FAULT at stream offset 0: Data error while reading archive header: the archive ends "
         "early\n"},
        {"\0\0\0\1" + stream.substr(4),
         "FAULT at stream offset 0: Wrong archive version for this program\n"},
        {stream.substr(0, 300), "FAULT at stream offset 272: Error reading archive file header: "
                                "the archive ends early\n"},
        {stream.substr(0, 539), "FAULT at stream offset 536: Error reading docs/readme from "
                                "archive stream: the archive ends early\n"},
        {stream + StreamBuilder().File("../up", "x").Bytes().substr(8),
         "FAULT at stream offset 541: Unsafe entry name \"../up\"\n"},
        {StreamBuilder().File("a", "").Directory("a").Bytes(),
         "FAULT at stream offset 272: a is a file earlier in the archive, so it cannot be unpacked "
         "as a directory\n"},
        {StreamBuilder().Directory("d").File("d/x", "").File("d", "").Bytes(),
         "FAULT at stream offset 536: d is a directory earlier in the archive, so it cannot be "
         "unpacked as a file\n"},
        {StreamBuilder().File("f", "").File("f/g/x", "").Bytes(),
         "FAULT at stream offset 272: f/g/x lies in f, which is a file earlier in the archive\n"},
    };
    for (const auto &[bytes, report] : faults) {
        WriteArchive(dir / "bad.gz", bytes);
        RunResult result = RunPack({"-verify", dir / "bad.gz"});
        EXPECT_EQ(result.exitCode, 1) << report;
        EXPECT_EQ(result.out, report);
    }
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    RunResult fifo = RunPack({"-verify", dir / "fifo"});
    EXPECT_EQ(fifo.exitCode, 1);
    std::string refused = "FAULT at stream offset 0: Unable to open archive " + dir / "fifo";
    EXPECT_EQ(fifo.out.rfind(refused + ": Not a regular file", 0), 0u) << fifo.out;

    /* What they print is their result: lost, it is a failure. */
    for (const char *mode : {"-list", "-verify"}) {
        for (const char *redirection : {">/dev/full", ">&-"}) {
            RunResult lost = RunShell(VELORIN_PACK_BINARY " " + std::string(mode) + " " +
                                      dir / "good.gz" + " " + redirection);
            EXPECT_EQ(lost.exitCode, 1) << mode << redirection;
            EXPECT_EQ(lost.err.rfind("velorin-pack: cannot write to standard output: ", 0), 0u)
                << lost.err;
        }
    }
}

TEST(PackTool, VerifySaysWhatUnpackingNeeds)
{
    TempDir dir;
    WriteArchive(dir / "needs.gz", StreamBuilder()
                                       .File("a/b/x", "x")
                                       .File("a/y", "y")
                                       .Directory("c")
                                       .File("c/z", "z")
                                       .Bytes());
    RunResult needs = RunPack({"-verify", dir / "needs.gz"});
    EXPECT_EQ(needs.exitCode, 3);
    EXPECT_EQ(needs.out, "NEEDS a/b: a directory that the archive does not create, so it must "
                         "exist in the destination\n"
                         "OK if the destination holds that directory: 4 entries (1 directory, 3 "
                         "files), 3 bytes in files\n");
    /* Velorin agrees: it needs that directory in the destination. */
    mkdir((dir / "empty").c_str(), 0777);
    EXPECT_EQ(RunVelorin({"-archive", dir / "needs.gz", "-dest", dir / "empty"}).exitCode, 0);
    for (const char *path : {"/ready", "/ready/a", "/ready/a/b"})
        mkdir((dir.Path() + path).c_str(), 0777);
    EXPECT_EQ(RunVelorin({"-archive", dir / "needs.gz", "-dest", dir / "ready"}).exitCode, 1);
}

} // namespace

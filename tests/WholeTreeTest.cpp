#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../tools/ArchiveWriter.h"
#include "support/ArchiveOracle.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

void SetTime(const std::string &path, time_t seconds, long nanoseconds)
{
    timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

/* What stat shows of every entry below root but its access time: type and
   mode, modification time to the nanosecond, size, link target, and which
   names share a file. */
std::map<std::string, std::string> Describe(const std::string &root)
{
    std::map<std::string, std::string> described;
    std::map<ino_t, std::string> firstNames;
    for (const auto &[name, content] : SnapshotTree(root)) {
        struct stat info;
        EXPECT_EQ(lstat((root + "/" + name).c_str(), &info), 0) << name;
        char line[128];
        std::snprintf(line, sizeof line, "%06o %lld.%09ld %lld", unsigned(info.st_mode),
                      (long long)info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
                      (long long)(S_ISDIR(info.st_mode) ? 0 : info.st_size));
        std::string text = line + (" " + content);
        if (S_ISREG(info.st_mode) && info.st_nlink > 1) {
            auto [first, added] = firstNames.emplace(info.st_ino, name);
            if (!added)
                text += " same file as " + first->second;
        }
        described[name] = text;
    }
    return described;
}

/* A tree as a game or SDK ships it: libraries behind a chain of links, a
   link to a directory, links that climb, private files and directories,
   set times and a file with two names. */
void MakeTree(const std::string &src)
{
    for (const char *directory : {"", "/lib", "/priv", "/sub", "/sub/deep"})
        mkdir((src + directory).c_str(), 0755);
    WriteFile(src + "/lib/libgame.so.1.2", MakeData(100000, 1));
    WriteFile(src + "/bin", "#!/bin/sh\n");
    WriteFile(src + "/key", "secret");
    WriteFile(src + "/group", "g");
    WriteFile(src + "/priv/token", "t");
    ASSERT_EQ(symlink("libgame.so.1.2", (src + "/lib/libgame.so.1").c_str()), 0);
    ASSERT_EQ(symlink("libgame.so.1", (src + "/lib/libgame.so").c_str()), 0);
    ASSERT_EQ(symlink("lib", (src + "/libdir").c_str()), 0);
    ASSERT_EQ(symlink("../../lib/libgame.so", (src + "/sub/deep/game").c_str()), 0);
    ASSERT_EQ(symlink("../../libdir", (src + "/sub/deep/libs").c_str()), 0);
    ASSERT_EQ(link((src + "/key").c_str(), (src + "/sub/key").c_str()), 0);
    chmod((src + "/bin").c_str(), 0755);
    chmod((src + "/key").c_str(), 0600);
    chmod((src + "/group").c_str(), 0640);
    chmod((src + "/priv").c_str(), 0700);
    chmod((src + "/sub").c_str(), 0750);
    long nanoseconds = 123456789;
    for (const auto &[name, content] : SnapshotTree(src))
        SetTime(src + "/" + name, 1000000000 + time_t(name.size()) * 1000, nanoseconds++);
}

TEST(WholeTree, ComesBackEqualThroughVelorinAndAnInstallerAndAnOlderReaderGetsEveryFile)
{
    UmaskScope mask(022);
    TempDir dir;
    std::string src = dir / "src";
    MakeTree(src);
    RunResult pack = RunPack({src, dir / "pkg.gz"});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_EQ(pack.err, "");
    RunResult verify = RunPack({"-verify", dir / "pkg.gz"});
    EXPECT_EQ(verify.exitCode, 0);
    EXPECT_EQ(verify.out,
              "OK: 15 entries (4 directories, 5 files, 6 links), 100018 bytes in files\n");
    std::string listed = RunPack({"-list", dir / "pkg.gz"}).out;
    for (const char *line :
         {"-rw-------  2001-09-09 03:43:20.123456803            6  key\n",
          "drwx------  2001-09-09 02:53:20.123456797            0  priv\n",
          "lrwxrwxrwx  2001-09-09 06:13:20.123456794            0  lib/libgame.so.1 -> "
          "libgame.so.1.2\n",
          "hrw-------  2001-09-09 03:43:20.123456803            6  sub/key link to key\n"})
        EXPECT_NE(listed.find(line), std::string::npos) << line << " in\n" << listed;

    std::map<std::string, std::string> expected = Describe(src);
    mkdir((dir / "out").c_str(), 0755);
    RunResult unpack = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
    ASSERT_EQ(unpack.exitCode, 1) << unpack.err;
    EXPECT_EQ(unpack.err, "");
    EXPECT_EQ(Describe(dir / "out"), expected);
    /* Again into the same tree: its links are replaced by the same links
       (the directories, already there, keep their own modes and times). */
    unpack = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
    ASSERT_EQ(unpack.exitCode, 1) << unpack.err;
    EXPECT_EQ(SnapshotTree(dir / "out"), SnapshotTree(src));

    ASSERT_EQ(
        RunPack({src, dir / "app.run", "-installer", "-stub", VELORIN_SHIPPED_BINARY}).exitCode, 0);
    mkdir((dir / "installed").c_str(), 0755);
    RunResult installed = RunProgram(dir / "app.run", {"-dest", dir / "installed"});
    ASSERT_EQ(installed.exitCode, 0) << installed.err;
    EXPECT_EQ(Describe(dir / "installed"), expected);

    /* A reader that knows only files and directories makes every one of
       them right; it leaves out the links and a file's further names. */
    OracleReading old = ReadArchiveOracle(dir / "pkg.gz");
    ASSERT_EQ(old.fault, OracleFault::None);
    TreeSnapshot oldTree;
    for (const OracleEntry &entry : old.entries) {
        if (entry.type == 0)
            oldTree[entry.name] = "file:" + entry.data;
        else if (entry.type == 1)
            oldTree[entry.name] = "dir";
    }
    TreeSnapshot expectedOld = SnapshotTree(src);
    std::erase_if(expectedOld, [](const auto &item) {
        return item.second.rfind("link:", 0) == 0 || item.first == "sub/key";
    });
    EXPECT_EQ(oldTree, expectedOld);
}

/* An archive with whole trees, of the records given. */
std::string TreeStream(const std::vector<FileHeader> &records)
{
    ArchiveHeader header = EncodeArchiveHeader(true);
    std::string stream(reinterpret_cast<const char *>(&header), sizeof header);
    for (const FileHeader &record : records)
        stream.append(reinterpret_cast<const char *>(&record), sizeof record);
    return stream;
}

TEST(WholeTree, LinksThatCouldLeadOutOfTheDestinationAreRefusedBeforeAnythingIsWritten)
{
    FileHeader directory = EncodeFileHeader("d", 0, ENTRY_DIRECTORY);
    FileHeader file = EncodeFileHeader("f", 0, ENTRY_FILE);
    FileHeader linkedFile = EncodeFileHeader("f", 0, ENTRY_FILE, ENTRY_FLAG_LINKED);
    auto soft = [](const char *name, const char *target) {
        return EncodeLink(name, target, ENTRY_SYMBOLIC_LINK);
    };
    auto hard = [](const char *name, const char *target) {
        return EncodeLink(name, target, ENTRY_HARD_LINK);
    };
    struct {
        std::vector<FileHeader> records;
        std::string error;
    } cases[] = {
        {{file, directory, soft("d/l", "/etc/passwd")}, "Unsafe symbolic link d/l -> /etc/passwd"},
        {{file, directory, soft("d/l", "../../f")}, "Unsafe symbolic link d/l -> ../../f"},
        {{file, soft("l", "")}, "Unsafe symbolic link l -> "},
        /* Each stays inside, but the second climbs through the first. */
        {{file, directory, soft("d/up", ".."), soft("m", "d/up/../f")},
         "Unsafe symbolic link m -> d/up/../f"},
        {{file, soft("m", "old/../f")}, "Unsafe symbolic link m -> old/../f"},
        {{file, hard("h", "f")}, "Unsafe hard link h -> f"},
        {{linkedFile, hard("h", "../f")}, "Unsafe hard link h -> ../f"},
        {{linkedFile, hard("f", "f")}, "Unsafe hard link f -> f"},
        {{file, soft("old/l", "x")}, "Unable to create old/l through a symbolic link"},
    };
    for (const auto &[records, error] : cases) {
        TempDir dir;
        mkdir((dir / "out").c_str(), 0755);
        /* A link the destination already holds, to a place outside it. */
        ASSERT_EQ(symlink(dir.Path().c_str(), (dir / "out/old").c_str()), 0);
        WriteArchive(dir / "pkg.gz", TreeStream(records));
        RunResult result = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
        EXPECT_EQ(result.exitCode, 0) << error;
        EXPECT_EQ(result.err, error + "\n");
        EXPECT_EQ(SnapshotTree(dir / "out"), (TreeSnapshot{{"old", "link:" + dir.Path()}}))
            << error;
        RunResult verify = RunPack({"-verify", dir / "pkg.gz"});
        /* velorin-pack's check knows the archive alone. */
        if (error.rfind("Unsafe", 0) == 0 && error.find("old") == std::string::npos) {
            EXPECT_NE(verify.out.find(error + "\n"), std::string::npos) << verify.out;
        }
    }
}

TEST(WholeTree, RecordsThatBreakTheRulesAreDamage)
{
    EntryAttributeValues values;
    values.fields = ATTRIBUTE_MODE;
    values.mode = 0644;
    FileHeader attributes = EncodeAttributes(values);
    FileHeader badTime = attributes;
    WriteBigEndian32(reinterpret_cast<uint8_t *>(badTime.name) + ATTRIBUTES_NANOSECONDS_AT,
                     1000000000);
    values.size = 1ull << 32;
    FileHeader largeInVersionOne = EncodeAttributes(values);
    FileHeader file = EncodeFileHeader("f", 0, ENTRY_FILE);
    FileHeader other = EncodeFileHeader("x", 0, 9);
    /* Attributes in the entry's own field, where its name leaves no room,
       or besides a record. */
    values.size = 0;
    FileHeader crowded = EncodeFileHeader(std::string(240, 'n'), 0, ENTRY_FILE);
    ASSERT_FALSE(PutAttributesInEntry(crowded, values));
    WriteBigEndian16(crowded.flags, ENTRY_FLAG_MODE);
    FileHeader inField = file;
    ASSERT_TRUE(PutAttributesInEntry(inField, values));
    for (const auto &records : std::vector<std::vector<FileHeader>>{
             {attributes},
             {attributes, attributes, file},
             {attributes, other},
             {badTime, file},
             {largeInVersionOne, file},
             {attributes, EncodeLink("h", "f", ENTRY_HARD_LINK)},
             {crowded},
             {attributes, inField},
         }) {
        TempDir dir;
        mkdir((dir / "out").c_str(), 0755);
        WriteArchive(dir / "pkg.gz", TreeStream(records));
        RunResult result = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
        EXPECT_EQ(result.exitCode, 0);
        /* An attributes record with nothing after it: the archive ends where
           its entry should begin. */
        bool endsEarly = records.size() == 1 && records[0].type[1] == attributes.type[1] &&
                         records[0].type[0] == attributes.type[0];
        EXPECT_EQ(result.err, std::string("Error reading archive file header") +
                                  (endsEarly ? ": the archive ends early" : "") + "\n");
        EXPECT_TRUE(SnapshotTree(dir / "out").empty());
        EXPECT_EQ(RunPack({"-verify", dir / "pkg.gz"}).exitCode, 1);
    }
}

TEST(WholeTree, APrivateFileIsNeverOpenToOthersAndAReadOnlyDirectoryIsFilledFirst)
{
    UmaskScope mask(022);
    TempDir dir;
    std::string src = dir / "src";
    mkdir(src.c_str(), 0755);
    mkdir((src + "/ro").c_str(), 0755);
    WriteFile(src + "/ro/inside", "i");
    chmod((src + "/ro").c_str(), 0555);
    WriteFile(src + "/secret", MakeData(200000, 2));
    chmod((src + "/secret").c_str(), 0600);
    ASSERT_EQ(RunPack({src, dir / "pkg.gz"}).exitCode, 0);
    mkdir((dir / "out").c_str(), 0755);
    RunResult whole = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
    EXPECT_EQ(whole.exitCode, 1) << whole.err;
    EXPECT_EQ(ReadFile(dir / "out/ro/inside"), "i");
    struct stat info;
    ASSERT_EQ(stat((dir / "out/ro").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0555u);
    chmod((dir / "out/ro").c_str(), 0755);

    /* Stopped after its first piece (ro/inside was the first to look), the
       file already has its own mode. */
    mkdir((dir / "cut").c_str(), 0755);
    RunOptions options;
    options.environment["VELORIN_HOST_ABORT_AT"] = "2";
    options.environment["VELORIN_HOST_ANSWER"] = "Yes";
    RunResult aborted = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "cut"}, options);
    EXPECT_EQ(aborted.exitCode, 2) << aborted.err;
    ASSERT_EQ(stat((dir / "cut/secret").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 65535);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(WholeTree, AFileOver4GiBComesBackWholeAndAnOlderReaderRefusesItsArchive)
{
    const off_t size = 4617089843; /* 4.3 GiB */
    struct statvfs space;
    /* The file, read back from holes, and its copy, which is written whole. */
    if (statvfs("/dev/shm", &space) != 0 ||
        uint64_t(space.f_bavail) * space.f_frsize < uint64_t(size) + (1ull << 30))
        GTEST_SKIP() << "/dev/shm lacks 5.3 GiB of free space for the copy of a 4.3 GiB file";
    setenv("TMPDIR", "/dev/shm", 1);
    TempDir dir;
    unsetenv("TMPDIR");
    std::string src = dir / "src";
    mkdir(src.c_str(), 0755);
    int big = open((src + "/big").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(big, 0);
    ASSERT_EQ(pwrite(big, "start", 5, 0), 5);
    ASSERT_EQ(pwrite(big, "end", 3, size - 3), 3);
    close(big);
    WriteFile(src + "/small", "s");

    RunResult pack = RunPack({src, dir / "pkg.gz", "-level", "1"});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_EQ(pack.err, "velorin-pack: " + dir / "pkg.gz" +
                            " holds files of 4 GiB or more: it needs Velorin " VELORIN_VERSION
                            " or later to unpack\n");
    EXPECT_NE(RunPack({"-list", dir / "pkg.gz"}).out.find(" 4617089843  big\n"), std::string::npos);
    EXPECT_EQ(ReadArchiveOracle(dir / "pkg.gz").fault, OracleFault::WrongVersion);

    mkdir((dir / "out").c_str(), 0755);
    RunResult unpack = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
    ASSERT_EQ(unpack.exitCode, 1) << unpack.err;
    EXPECT_EQ(ReadFile(dir / "out/small"), "s");
    RunResult same = RunProgram("/usr/bin/cmp", {src + "/big", dir / "out/big"});
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
}

} // namespace

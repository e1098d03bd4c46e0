#include <string>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* Unpacks stream into a fresh destination below dir and returns the run. */
RunResult Unpack(const TempDir &dir, const std::string &stream, int level = 6, const char *end = "")
{
    std::string archive = dir / "pkg.gz";
    WriteArchive(archive, stream, level);
    mkdir((dir / "out").c_str(), 0777);
    return RunVelorin({"-archive", archive, "-dest", dir / "out" + end});
}

/* The two-entry example, written out byte for byte. */
std::string ExampleStream()
{
    std::string stream("\x00\x01\x00\x00\x00\x00\x00\x00", 8);
    std::string docs = std::string("docs") + std::string(252, '\0');
    std::string readme = std::string("docs/readme") + std::string(245, '\0');
    stream += docs + std::string("\x00\x00\x00\x00\x00\x01\x00\x00", 8);
    stream += readme + std::string("\x00\x00\x00\x05\x00\x00\x00\x00", 8) + "hello";
    return stream;
}

TEST(ArchiveFormat, ExampleAndHeaderOnlyArchivesUnpackCompressedAndStored)
{
    std::string stream = ExampleStream();
    ASSERT_EQ(stream.size(), 541u);
    EXPECT_EQ(stream, StreamBuilder().Directory("docs").File("docs/readme", "hello").Bytes());
    for (int level : {6, 0}) {
        TempDir dir;
        /* The destination may end in a separator. */
        RunResult result = Unpack(dir, stream, level, level == 0 ? "/" : "");
        EXPECT_EQ(result.exitCode, 1) << "level " << level << ": " << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(SnapshotTree(dir / "out"),
                  (TreeSnapshot{{"docs", "dir"}, {"docs/readme", "file:hello"}}));
        TempDir empty;
        EXPECT_EQ(Unpack(empty, StreamBuilder().Bytes(), level).exitCode, 1);
        EXPECT_TRUE(SnapshotTree(empty / "out").empty());
    }
}

TEST(ArchiveFormat, BadArchiveHeadersAreRefused)
{
    struct {
        std::string stream, message;
    } cases[] = {
        {std::string("\x00\x00\x00\x01\x00\x00\x00\x00", 8),
         "Wrong archive version for this program\n"},
        {std::string("\x00\x02\x00\x00\x00\x00\x00\x00", 8),
         "Wrong archive version for this program\n"},
        {std::string("\x00\x01\x00\x00\x00", 5),
         "Data error while reading archive header: the archive ends early\n"},
        {std::string(), "Data error while reading archive header: the archive ends early\n"},
    };
    for (const auto &c : cases) {
        for (int level : {6, 0}) {
            TempDir dir;
            RunResult result = Unpack(dir, c.stream, level);
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_EQ(result.err, c.message);
        }
    }
}

TEST(ArchiveFormat, UnreadFieldsMayHoldAnything)
{
    std::string stream = ExampleStream();
    stream.replace(2, 6, std::string(6, '\xff'));
    stream[8 + 262] = stream[8 + 263] = '\xff';
    stream[272 + 262] = stream[272 + 263] = '\x7f';
    std::string directory = StreamBuilder().Entry("dir", 0xFFFFFFFF, 1).Bytes().substr(8);
    stream += directory;
    TempDir dir;
    RunResult result = Unpack(dir, stream);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(SnapshotTree(dir / "out"),
              (TreeSnapshot{{"dir", "dir"}, {"docs", "dir"}, {"docs/readme", "file:hello"}}));
}

TEST(ArchiveFormat, FilesAroundThePieceSizeArriveWhole)
{
    TempDir dir;
    StreamBuilder builder;
    TreeSnapshot expected;
    for (size_t size : {0, 1, 65534, 65535, 65536, 65535 * 3 + 7}) {
        std::string name = "file-" + std::to_string(size);
        std::string data = MakeData(size, unsigned(size));
        builder.File(name, data);
        expected[name] = "file:" + data;
    }
    RunResult result = Unpack(dir, builder.Bytes());
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(SnapshotTree(dir / "out"), expected);
}

TEST(ArchiveFormat, WritingPassErrorsShowTheEntryAndReturnZero)
{
    struct Case {
        std::string stream;
        std::string message;
        TreeSnapshot left;
    };
    const Case cases[] = {
        /* No directory entry came before the file. */
        {StreamBuilder().File("nodir/readme", "x").Bytes(),
         "Unable to create file nodir/readme: No such file or directory\n",
         {}},
        /* The directory's name is taken by a file. */
        {StreamBuilder().File("docs", "plain").Directory("docs").File("docs/readme", "x").Bytes(),
         "Unable to create file docs/readme: Not a directory\n",
         {{"docs", "file:plain"}}},
        /* A directory whose parent is missing. */
        {StreamBuilder().File("first", "1").Directory("a/b").Bytes(),
         "Unable to create directory a/b: No such file or directory\n",
         {{"first", "file:1"}}},
    };
    for (const Case &c : cases) {
        TempDir dir;
        RunResult result = Unpack(dir, c.stream);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(SnapshotTree(dir / "out"), c.left);
    }
}

} // namespace

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "../tools/ArchiveReader.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace {

/* Damaged archives must be refused by the sizing pass, before anything is
   written, with one of the reader's messages. */
class DamagedArchive : public testing::Test {
protected:
    void SetUp() override
    {
        builder_.Directory("docs")
            .File("docs/readme", "hello, this is the readme of the package\n")
            .File("docs/data.bin", MakeData(300, 7))
            .File("top.txt", "overwritten only by a complete archive");
        stream_ = builder_.Bytes();
        mkdir((dir_ / "out").c_str(), 0777);
        WriteFile(dir_ / "out/top.txt", "must stay as it is");
        WriteFile(dir_ / "out/other", "unrelated");
        before_ = SnapshotTree(dir_ / "out");
    }

    void ExpectRefused(const std::string &archiveBytes, const std::string &what)
    {
        /* A file of its own for each case: the stream functions take a
           file read before and then changed in place for a changed archive. */
        std::string archive = dir_ / ("damaged-" + std::to_string(cases_++) + ".gz");
        WriteFile(archive, archiveBytes);
        RunResult result = RunVelorin({"-archive", archive, "-dest", dir_ / "out"});
        EXPECT_EQ(result.exitCode, 0) << what;
        static const std::set<std::string> readMessages = {
            "Data error while reading archive header\n",
            "Wrong archive version for this program\n",
            "Error reading archive file header\n",
            "Error reading docs/readme from archive stream\n",
            "Error reading docs/data.bin from archive stream\n",
            "Error reading top.txt from archive stream\n",
        };
        EXPECT_TRUE(readMessages.count(result.err)) << what << ": " << result.err;
        /* The right one of them: the one for the read where an independent
           reading of the same bytes meets the damage. */
        ArchiveReading reading = ReadArchiveFile(archive);
        EXPECT_NE(reading.fault, ArchiveFault::None) << what << ": the reader takes it for sound";
        EXPECT_EQ(result.err, DescribeArchiveFault(reading, archive) + "\n") << what;
        EXPECT_EQ(SnapshotTree(dir_ / "out"), before_) << what;
    }

    TempDir dir_;
    StreamBuilder builder_;
    std::string stream_;
    TreeSnapshot before_;
    int cases_ = 0;
};

TEST_F(DamagedArchive, CompressedArchiveCutAtAnyByteIsRefused)
{
    WriteArchive(dir_ / "whole.gz", stream_);
    std::string whole = ReadFile(dir_ / "whole.gz");
    for (size_t length = 0; length < whole.size(); length++)
        ExpectRefused(whole.substr(0, length), "cut at " + std::to_string(length));
}

TEST_F(DamagedArchive, StoredArchiveCutInsideAnEntryIsRefused)
{
    /* A plain stream has no framing: a cut between two entries is a smaller
       but valid archive. Every other cut is damage: inside the archive
       header, at each part of an entry header, and inside file data. */
    const std::vector<size_t> &boundaries = builder_.Boundaries();
    std::set<size_t> cuts = {0, 1, 7};
    for (size_t i = 0; i + 1 < boundaries.size(); i++) {
        size_t start = boundaries[i], end = boundaries[i + 1];
        for (size_t into : {1, 128, 255, 256, 259, 260, 263})
            cuts.insert(start + into);
        if (end > start + 264)
            cuts.insert({start + 264 + (end - start - 264) / 2, end - 1});
    }
    for (size_t length : cuts)
        ExpectRefused(stream_.substr(0, length), "cut at " + std::to_string(length));
}

TEST_F(DamagedArchive, CorruptedCompressedByteIsRefused)
{
    WriteArchive(dir_ / "whole.gz", stream_);
    std::string whole = ReadFile(dir_ / "whole.gz");
    /* Bytes 4 to 9 of the gzip header (time, flags, system) are informative
       and not checked by anyone; every other byte is covered by the format,
       the deflate structure or the CRC and length trailer. */
    for (size_t offset = 0; offset < whole.size(); offset++) {
        if (offset >= 4 && offset <= 9)
            continue;
        std::string damaged = whole;
        damaged[offset] = char(damaged[offset] ^ 0xA5);
        ExpectRefused(damaged, "byte " + std::to_string(offset) + " changed");
    }
}

TEST_F(DamagedArchive, ShortBytesAfterTheLastEntryAreRefused)
{
    ExpectRefused(stream_ + std::string(100, '\0'), "100 bytes appended");
    std::string archive = dir_ / "padded.gz";
    WriteArchive(archive, stream_ + std::string(263, 'x'));
    ExpectRefused(ReadFile(archive), "263 bytes appended, compressed");
}

}  // namespace

#include <algorithm>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "support/ArchiveOracle.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* Damaged archives must be refused by the sizing pass, before anything is
   written, with one of the reader's messages. */
class DamagedArchive : public testing::Test
{
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

    /* reason: what the error line must end with, after ": "; empty for
       either kind of damage. */
    void ExpectRefused(const std::string &archiveBytes, const std::string &what,
                       const std::string &reason = "")
    {
        /* A file of its own for each case: the stream functions take a
           file read before and then changed in place for a changed archive. */
        std::string archive = dir_ / ("damaged-" + std::to_string(cases_++) + ".gz");
        WriteFile(archive, archiveBytes);
        RunResult result = RunVelorin({"-archive", archive, "-dest", dir_ / "out"});
        EXPECT_EQ(result.exitCode, 0) << what;
        EXPECT_EQ(SnapshotTree(dir_ / "out"), before_) << what;
        /* velorin-pack -verify reports the same fault at the same read. */
        RunResult verify = RunPack({"-verify", archive});
        EXPECT_TRUE(IsSameFault(result.err, verify.out.substr(verify.out.find(": ") + 2)))
            << what << ": " << result.err << " and " << verify.out;
        /* The fault is the one an independent reading meets first. Where
           deflate data are damaged, the inflater may meet the damage
           elsewhere; the fault is then one of the reader's. */
        /* A read that comes up short says why; an unsafe name and a wrong
           version are read whole, and say why only where their member is
           known to be damaged. */
        std::string line = result.err;
        bool readWhole = line.rfind("Unsafe entry name", 0) == 0 ||
                         line == "Wrong archive version for this program\n";
        std::string taken = TakeReason(line, reason);
        EXPECT_TRUE(readWhole || !taken.empty()) << what << ": " << result.err;
        OracleReading expected = ReadArchiveOracle(archive);
        ASSERT_NE(expected.fault, OracleFault::None)
            << what << ": the independent reading takes it for sound";
        if (!expected.exact) {
            EXPECT_TRUE(IsReadFault(line)) << what << ": " << result.err;
            return;
        }
        EXPECT_TRUE(IsMessageFor(line, expected)) << what << ": " << result.err;
        EXPECT_EQ(verify.out.substr(0, verify.out.find(": ")),
                  "FAULT at stream offset " + std::to_string(expected.faultOffset))
            << what;
    }

    /* Removes the reason from an error line that carries one: the archive
       ends early, or its data are damaged, as reason says (any of the two
       when it is empty). Empty when the line's reason is not that. */
    static std::string TakeReason(std::string &line, const std::string &reason)
    {
        for (const std::string &kind :
             {std::string("the archive ends early"), std::string("invalid compressed data (")}) {
            size_t at = line.rfind(": " + kind);
            if (at == std::string::npos)
                continue;
            std::string found = line.substr(at + 2, line.size() - at - 3);
            bool damaged = kind.back() == '(';
            if ((damaged && found.back() != ')') || (!reason.empty() && found != reason))
                return "";
            line = line.substr(0, at) + "\n";
            return found;
        }
        return "";
    }

    /* Velorin fits an unsafe name's escaped form into its message buffer;
       velorin-pack shows it whole. */
    static bool IsSameFault(const std::string &line, const std::string &verified)
    {
        const std::string unsafe = "Unsafe entry name \"";
        if (line.rfind(unsafe, 0) != 0 || verified.rfind(unsafe, 0) != 0)
            return line == verified;
        std::string shown = line.substr(0, line.size() - 2);
        return verified.compare(0, shown.size(), shown) == 0;
    }

    static bool IsReadFault(const std::string &line)
    {
        static const char *const messages[] = {
            "Data error while reading archive header\n",
            "Wrong archive version for this program\n",
            "Error reading archive file header\n",
        };
        for (const char *message : messages)
            if (line == message)
                return true;
        auto between = [&](const std::string &front, const std::string &back) {
            return line.size() > front.size() + back.size() && line.rfind(front, 0) == 0 &&
                   line.compare(line.size() - back.size(), back.size(), back) == 0;
        };
        return between("Error reading ", " from archive stream\n") ||
               between("Unsafe entry name \"", "\"\n");
    }

    /* Whether an error line is the one Velorin shows for a fault. A name of
       printable characters without a backslash is shown as it is; others
       are escaped, and only the message's frame is compared. */
    static bool IsMessageFor(const std::string &line, const OracleReading &expected)
    {
        auto framed = [&](const std::string &front, const std::string &back) {
            const std::string &name = expected.faultEntry;
            bool plain = std::all_of(name.begin(), name.end(),
                                     [](char c) { return c >= 0x20 && c < 0x7f && c != '\\'; });
            if (plain)
                return line == front + name + back;
            return line.size() >= front.size() + back.size() && line.rfind(front, 0) == 0 &&
                   line.compare(line.size() - back.size(), back.size(), back) == 0;
        };
        switch (expected.fault) {
        case OracleFault::ShortHeader:
            return line == "Data error while reading archive header\n";
        case OracleFault::WrongVersion:
            return line == "Wrong archive version for this program\n";
        case OracleFault::ShortEntryHeader:
            return line == "Error reading archive file header\n";
        case OracleFault::UnsafeName:
            return framed("Unsafe entry name \"", "\"\n");
        case OracleFault::ShortData:
            return framed("Error reading ", " from archive stream\n");
        case OracleFault::None:
            break;
        }
        return false;
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
    for (const std::string &whole : {ReadFile(dir_ / "whole.gz"), MakeBlockFile(stream_, 250)}) {
        for (size_t length = 0; length < whole.size(); length++)
            ExpectRefused(whole.substr(0, length), "cut at " + std::to_string(length),
                          "the archive ends early");
    }
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
        ExpectRefused(stream_.substr(0, length), "cut at " + std::to_string(length),
                      "the archive ends early");
}

/* Every byte of the compressed archive damaged in turn: velorin and
   velorin-pack -verify name the same fault, where the damage is met. */
TEST_F(DamagedArchive, CorruptedCompressedByteIsRefused)
{
    WriteArchive(dir_ / "whole.gz", stream_);
    /* Bytes 4 to 9 of a gzip header (time, flags, system) are informative
       and not checked by anyone, nor is the content of a block's extra
       field (the subfield that gives the member's size, a hint that readers
       check against the member itself); every other byte is covered by the
       format, the deflate structure or the CRC and length trailer. */
    for (const std::string &whole : {ReadFile(dir_ / "whole.gz"), MakeBlockFile(stream_, 250)}) {
        std::set<size_t> informative;
        for (size_t member = 0; member < whole.size();
             member += uint8_t(whole[member + 16]) | uint8_t(whole[member + 17]) << 8) {
            for (size_t field : {4, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16, 17, 18, 19})
                informative.insert(member + field);
        }
        for (size_t offset = 0; offset < whole.size(); offset++) {
            if (informative.count(offset) != 0)
                continue;
            std::string damaged = whole;
            damaged[offset] = char(damaged[offset] ^ 0xA5);
            ExpectRefused(damaged, "byte " + std::to_string(offset) + " changed");
        }
    }
}

/* A block whose bytes fail their check hands out its data before the
   check, as zlib does; what they make wrong first (here a name turned
   absolute) is reported with the damage that is already known. */
TEST_F(DamagedArchive, GarbageOfADamagedBlockIsReportedWithTheDamage)
{
    std::string whole = MakeBlockFile(stream_, 1 << 20, 0);
    size_t name = whole.find("docs/readme");
    ASSERT_NE(name, std::string::npos) << "stored data show the name";
    whole[name] = '/';
    std::string archive = dir_ / "absolute.gz";
    WriteFile(archive, whole);
    RunResult result = RunVelorin({"-archive", archive, "-dest", dir_ / "out"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err,
              "Unsafe entry name \"/ocs/readme\": invalid compressed data (CRC error)\n");
    EXPECT_EQ(SnapshotTree(dir_ / "out"), before_);
}

TEST_F(DamagedArchive, DamagedTrailerIsReportedAfterTheLastEntry)
{
    /* All entries are read before the member's end, where its CRC-32 and
       length are checked: the fault is met by the read after the last
       entry, whatever the inflater has read ahead. */
    WriteArchive(dir_ / "whole.gz", stream_);
    std::string whole = ReadFile(dir_ / "whole.gz");
    for (size_t fromEnd : {8, 5, 4, 1}) {
        std::string damaged = whole;
        damaged[whole.size() - fromEnd] ^= 0x01;
        std::string reason = fromEnd > 4 ? "invalid compressed data (CRC error)"
                                         : "invalid compressed data (incorrect length check)";
        ExpectRefused(damaged, "trailer byte " + std::to_string(8 - fromEnd) + " changed", reason);
        WriteFile(dir_ / "trailer.gz", damaged);
        RunResult verify = RunPack({"-verify", dir_ / "trailer.gz"});
        EXPECT_EQ(verify.out, "FAULT at stream offset " + std::to_string(stream_.size()) +
                                  ": Error reading archive file header: " + reason + "\n");
    }
}

TEST_F(DamagedArchive, BytesAfterTheLastMemberAreRefusedUnlessZero)
{
    /* Entries in them would be missing without a word; zero bytes are a
       device's padding, as gzip takes them. */
    WriteArchive(dir_ / "whole.gz", stream_);
    std::string whole = ReadFile(dir_ / "whole.gz");
    const std::string notAMember =
        "invalid compressed data (data after a member that are not a member)";
    ExpectRefused(whole + "x", "a byte after the member", notAMember);
    ExpectRefused(whole + std::string(512, '\0') + "x", "zero bytes and a byte after the member",
                  notAMember);
    std::string padded = dir_ / "padded.gz";
    WriteFile(padded, whole + std::string(512, '\0'));
    RunResult result = RunVelorin({"-archive", padded, "-dest", dir_ / "out"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "out/docs/readme"), "hello, this is the readme of the package\n");
    EXPECT_EQ(RunPack({"-verify", padded}).exitCode, 0);
}

TEST_F(DamagedArchive, ShortBytesAfterTheLastEntryAreRefused)
{
    ExpectRefused(stream_ + std::string(100, '\0'), "100 bytes appended", "the archive ends early");
    std::string archive = dir_ / "padded.gz";
    WriteArchive(archive, stream_ + std::string(263, 'x'));
    ExpectRefused(ReadFile(archive), "263 bytes appended, compressed", "the archive ends early");
}

} // namespace

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "../format/BlockLayout.h"
#include "../tools/ArchiveWriter.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

uint32_t LittleEndian32(const std::string &bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

/* Text-like data that compresses, with enough variety that each block's
   member differs. */
std::string MakeStream(size_t size)
{
    std::string data;
    data.reserve(size);
    uint64_t state = 42;
    while (data.size() < size) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        data += "line " + std::to_string(state >> 40) + (state >> 63 ? " even\n" : " odd\n");
    }
    data.resize(size);
    return data;
}

std::string Pack(const std::string &path, const std::string &stream, int level,
                 unsigned threads = 0)
{
    ArchiveWriter writer;
    writer.SetThreads(threads);
    EXPECT_TRUE(writer.Open(path, level)) << writer.Error();
    /* In uneven pieces, so that pieces straddle the blocks' boundaries. */
    for (size_t at = 0; at < stream.size(); at += 70001)
        EXPECT_TRUE(
            writer.WriteBytes(stream.data() + at, std::min<size_t>(70001, stream.size() - at)));
    EXPECT_TRUE(writer.Close()) << writer.Error();
    return ReadFile(path);
}

/* Walks the members by their size subfields; the sizes must tile the file
   exactly, and each member must hold at most one block of the stream. */
std::vector<uint32_t> MemberInputSizes(const std::string &file)
{
    std::vector<uint32_t> sizes;
    size_t at = 0;
    while (at < file.size()) {
        EXPECT_GE(file.size() - at, size_t(BLOCK_HEADER_SIZE + 8));
        EXPECT_EQ(file.substr(at, 4), std::string("\x1f\x8b\x08\x04", 4));
        EXPECT_EQ(file.substr(at + 10, 6), std::string("\x08\x00VB\x04\x00", 6));
        uint32_t member = LittleEndian32(file, at + 16);
        EXPECT_LE(at + member, file.size());
        if (at + member > file.size() || member < BLOCK_HEADER_SIZE + 8)
            break;
        uint32_t input = LittleEndian32(file, at + member - 4);
        EXPECT_LE(input, BLOCK_INPUT_LIMIT);
        sizes.push_back(input);
        at += member;
    }
    return sizes;
}

/* The whole stream as zlib's gzip reader delivers it. */
std::string ReadWithZlib(const std::string &path)
{
    gzFile file = gzopen(path.c_str(), "rb");
    std::string data;
    char piece[65536];
    int got;
    while ((got = gzread(file, piece, sizeof piece)) > 0)
        data.append(piece, size_t(got));
    EXPECT_EQ(got, 0);
    gzclose(file);
    return data;
}

TEST(ArchiveWriter, BlocksAreGzipMembersThatCarryTheirSize)
{
    TempDir dir;
    const size_t limit = BLOCK_INPUT_LIMIT;
    struct Case {
        size_t size;
        std::vector<uint32_t> members;
    };
    const Case cases[] = {{0, {0}}, {limit, {limit}}, {limit + 1, {limit, 1}}};
    for (int level : {0, 1, 6, 9}) {
        for (const Case &c : cases) {
            SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(c.size) +
                         " bytes");
            std::string stream = MakeStream(c.size);
            std::string path = dir / "a.gz";
            std::string file = Pack(path, stream, level, 2);
            EXPECT_EQ(MemberInputSizes(file), c.members);
            EXPECT_EQ(ReadWithZlib(path), stream);
            RunResult gzip = RunProgram("/bin/gzip", {"-dc", path});
            EXPECT_EQ(gzip.exitCode, 0) << gzip.err;
            EXPECT_TRUE(gzip.out == stream);
        }
    }
}

TEST(ArchiveWriter, TheArchiveIsTheSameWhateverTheNumberOfThreads)
{
    TempDir dir;
    std::string stream = MakeStream(9 * BLOCK_INPUT_LIMIT + 12345);
    std::map<int, size_t> sizes;
    for (int level : {0, 6}) {
        std::string one = Pack(dir / "one.gz", stream, level, 1);
        EXPECT_EQ(MemberInputSizes(one).size(), 10u);
        for (unsigned threads : {2u, 3u, 8u})
            EXPECT_TRUE(Pack(dir / "many.gz", stream, level, threads) == one)
                << threads << " threads, level " << level;
        EXPECT_TRUE(Pack(dir / "cores.gz", stream, level) == one);
        sizes[level] = one.size();
    }
    /* 0 stores; 6 compresses. */
    EXPECT_GT(sizes[0], stream.size());
    EXPECT_LT(sizes[6], stream.size() / 2);
}

TEST(ArchiveWriter, AnOpenFileIsWrittenFromItsPositionAndLeftOpen)
{
    TempDir dir;
    std::string path = dir / "joined";
    int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(write(descriptor, "lead", 4), 4);
    std::string stream = MakeStream(BLOCK_INPUT_LIMIT + 100);
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Open(descriptor, "joined", 6));
    ASSERT_TRUE(writer.WriteBytes(stream.data(), stream.size()));
    ASSERT_TRUE(writer.Close()) << writer.Error();
    EXPECT_EQ(write(descriptor, "tail", 4), 4);
    EXPECT_EQ(close(descriptor), 0);

    std::string file = ReadFile(path);
    ASSERT_EQ(file.substr(0, 4), "lead");
    ASSERT_EQ(file.substr(file.size() - 4), "tail");
    WriteFile(dir / "inner.gz", file.substr(4, file.size() - 8));
    EXPECT_EQ(MemberInputSizes(ReadFile(dir / "inner.gz")).size(), 2u);
    EXPECT_EQ(ReadWithZlib(dir / "inner.gz"), stream);
}

TEST(ArchiveWriter, AFullDiskIsReportedWithTheReason)
{
    std::string expected = std::string("cannot write /dev/full: ") + std::strerror(ENOSPC);
    for (int level : {PLAIN_STREAM, 0, 6}) {
        SCOPED_TRACE("level " + std::to_string(level));
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Open("/dev/full", level));
        /* Small writes are gathered, so the fault may show at Close. */
        std::string stream = MakeStream(3 * BLOCK_INPUT_LIMIT);
        bool written = writer.WriteBytes(stream.data(), stream.size());
        EXPECT_FALSE(written && writer.Close());
        EXPECT_EQ(writer.Error(), expected);
        EXPECT_FALSE(writer.WriteBytes("x", 1));
    }
}

} // namespace

#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include "../format/BlockLayout.h"

#include "../platform/stream/HostStream.h"
#include "support/ArchiveOracle.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace
{

/* The streaming reader alone, and the read-ahead with no, one and four threads. */
struct Inflater {
    const char *name;
    int workers; /* -1: the streaming reader alone */
};

HostStream *Start(const Inflater &inflater, const ArchiveRegion &region, unsigned inputSize)
{
    if (inflater.workers < 0)
        return StartGzipReader(region, inputSize);
    return StartInflater(region, unsigned(inflater.workers), inputSize);
}

/* One gzip member of data, with the header fields that flags ask for. */
std::string Member(const std::string &data, unsigned char flags = 0, int level = 6,
                   int strategy = Z_DEFAULT_STRATEGY)
{
    char extra[] = "extra", name[] = "name.txt", comment[] = "a comment";
    gz_header header{};
    header.os = 3;
    header.extra = flags & 0x04 ? reinterpret_cast<Bytef *>(extra) : Z_NULL;
    header.extra_len = 5;
    header.name = flags & 0x08 ? reinterpret_cast<Bytef *>(name) : Z_NULL;
    header.comment = flags & 0x10 ? reinterpret_cast<Bytef *>(comment) : Z_NULL;
    header.hcrc = (flags & 0x02) != 0;
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, 31, 8, strategy);
    deflateSetHeader(&stream, &header);
    std::string member(deflateBound(&stream, uLong(data.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(member.data());
    stream.avail_out = uInt(member.size());
    deflate(&stream, Z_FINISH);
    member.resize(stream.total_out);
    deflateEnd(&stream);
    return member;
}

struct Result {
    std::string bytes;
    std::vector<int> counts; /* each read's result, the last one 0 or -1 */
    std::string error;
};

/* What zlib's inflate makes of one member, with its message on damage. */
struct ZlibReading {
    std::string bytes;
    int result = Z_OK;
    std::string message;
};

ZlibReading InflateWithZlib(const std::string &member)
{
    ZlibReading reading;
    z_stream stream{};
    inflateInit2(&stream, 31);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(member.data()));
    stream.avail_in = uInt(member.size());
    char buffer[65536];
    do {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        reading.result = inflate(&stream, Z_NO_FLUSH);
        reading.bytes.append(buffer, sizeof buffer - stream.avail_out);
    } while (reading.result == Z_OK);
    if (reading.result == Z_DATA_ERROR)
        reading.message = stream.msg;
    inflateEnd(&stream);
    return reading;
}

class InflaterTest : public testing::TestWithParam<Inflater>
{
  protected:
    /* Reads the file to its end or error, request bytes per read, inputSize per file read. */
    Result ReadWith(const std::string &file, unsigned request,
                    unsigned inputSize = STREAM_INPUT_SIZE, const Inflater &inflater = GetParam(),
                    size_t before = 0, size_t after = 0)
    {
        std::string path = dir_ / "archive";
        WriteFile(path, file);
        int descriptor = open(path.c_str(), O_RDONLY);
        HostStream *stream =
            Start(inflater, {descriptor, before, file.size() - before - after}, inputSize);
        Result result;
        std::vector<char> buffer(request);
        for (;;) {
            int count = stream->Read(buffer.data(), request);
            result.counts.push_back(count);
            if (count <= 0)
                break;
            result.bytes.append(buffer.data(), size_t(count));
        }
        result.error = stream->DescribeError(nullptr);
        delete stream;
        return result;
    }

    TempDir dir_;
};

std::string Text(size_t size)
{
    std::string text;
    for (size_t i = 0; text.size() < size; i++)
        text += "line " + std::to_string(i % 97) + " of the text\n";
    text.resize(size);
    return text;
}

TEST_P(InflaterTest, DeliversWhatZlibDelivers)
{
    std::string a = Text(200000), b = MakeData(70000, 3), ab = a + b;
    std::string blocks = MakeBlockFile(ab, 50000);
    struct Case {
        const char *what;
        std::string file;
        std::string stream;
    } cases[] = {
        {"a file without the gzip magic", "plain bytes, not compressed",
         "plain bytes, not compressed"},
        {"an empty file", "", ""},
        {"two members", Member(a) + Member(b), a + b},
        {"an empty member between two", Member(a) + Member("") + Member(b), a + b},
        {"zero bytes after the last member", Member(b) + std::string(300, '\0'), b},
        {"every header field", Member(a, 0x02 | 0x04 | 0x08 | 0x10), a},
        {"blocks", blocks, ab},
        {"an empty block", MakeBlockMember("") + MakeBlockMember("x"), "x"},
        {"blocks mixed with other members",
         Member(a) + MakeBlockFile(b, 9999) + Member(a) + MakeBlockMember(b), a + b + a + b},
        {"a block stored", MakeBlockMember(b, 0), b},
    };
    for (const Case &c : cases) {
        for (unsigned inputSize : {1u, 7u, STREAM_INPUT_SIZE}) {
            for (unsigned request : {1u, 264u, 65535u}) {
                if (inputSize == 1 && request == 1 && c.stream.size() > 1000)
                    continue;
                Result result = ReadWith(c.file, request, inputSize);
                EXPECT_EQ(result.bytes, c.stream) << c.what << ", requests of " << request;
                EXPECT_EQ(result.counts.back(), 0) << c.what << ", requests of " << request;
            }
        }
    }
}

TEST_P(InflaterTest, RefusesWhatZlibRefuses)
{
    std::string sound = Member(Text(5000), 0x02);
    std::string badMethod = sound, reservedFlag = sound, badHeaderCrc = sound;
    badMethod[2] = 7;
    reservedFlag[3] |= 0x20;
    badHeaderCrc[10] ^= 1;
    std::string badMember = Member(Text(100)) + "\x1f\x8b" + "not a member";
    for (const std::string &file : {badMethod, reservedFlag, badHeaderCrc, badMember})
        EXPECT_EQ(ReadWith(file, 65535).counts.back(), -1);
}

TEST_P(InflaterTest, BytesAfterAMemberThatBeginNoMemberAreDamage)
{
    /* Entries there would go missing silently: the member, then a failed read. */
    std::string text = Text(3000);
    for (const std::string &member : {Member(text), MakeBlockMember(text)}) {
        for (const std::string &after : {std::string("\x1f"), std::string("trailing bytes"),
                                         std::string(1000, '\0') + "x" + std::string(10, '\0')}) {
            Result result = ReadWith(member + after, 1000);
            EXPECT_EQ(result.bytes, text);
            EXPECT_EQ(result.counts.back(), -1);
            EXPECT_EQ(result.counts.size(), 4u);
        }
    }
}

TEST_P(InflaterTest, NothingOutsideTheRegionIsRead)
{
    /* An installer carries the archive inside a larger file. */
    std::string stream = Text(100000);
    for (const std::string &archive : {Member(stream), MakeBlockFile(stream, 30000), stream}) {
        Result result = ReadWith("before" + archive + "after", 4096, 4096, GetParam(), 6, 5);
        EXPECT_EQ(result.bytes, stream);
        EXPECT_EQ(result.counts.back(), 0);
    }
}

/* A block's size is only a hint: wrong or damaged blocks read exactly as the streaming reader reads
 * them. */
TEST_P(InflaterTest, BlocksThatAreNotWhatTheyClaimReadAsZlibReadsThem)
{
    std::string a = Text(40000), b = MakeData(30000, 5), c = Text(1000);
    std::string first = MakeBlockMember(a), second = MakeBlockMember(b), third = MakeBlockMember(c);
    auto hinted = [](const std::string &member, uint32_t hint) {
        std::string copy = member;
        for (int i = 0; i < 4; i++)
            copy[16 + i] = char(hint >> (8 * i));
        return copy;
    };
    std::string damagedData = second, damagedCheck = second;
    damagedData[second.size() / 2] ^= 0x10;
    damagedCheck[second.size() - 7] ^= 0x01;
    std::vector<std::string> files = {
        first + hinted(second, uint32_t(second.size() - 1)) + third,
        first + hinted(second, uint32_t(second.size() + 1)) + third,
        first + hinted(second, uint32_t(second.size() + third.size())) + third,
        first + hinted(second, 29) + third,
        first + hinted(second, 0xffffffff) + third,
        first + damagedData + third,
        first + damagedCheck + third,
        first + second + third.substr(0, third.size() - 3),
        first + MakeBlockMember(Text(BLOCK_INPUT_LIMIT + 1)) + third,
        first + hinted(second, uint32_t(second.size() + 2)) + third + "xy",
    };
    const Inflater alone = {"alone", -1};
    for (size_t i = 0; i < files.size(); i++) {
        for (unsigned request : {264u, 65535u}) {
            Result expected = ReadWith(files[i], request, STREAM_INPUT_SIZE, alone);
            Result result = ReadWith(files[i], request);
            EXPECT_EQ(result.bytes, expected.bytes) << "case " << i;
            EXPECT_EQ(result.counts, expected.counts) << "case " << i;
        }
    }
}

TEST_P(InflaterTest, ClosedHalfWayStopsAtOnce)
{
    /* Slots filled ahead are dropped, and the threads end with the stream. */
    std::string path = dir_ / "large";
    WriteFile(path, MakeBlockFile(MakeData(6 << 20, 4), BLOCK_INPUT_LIMIT, 1));
    for (int round = 0; round < 20; round++) {
        int descriptor = open(path.c_str(), O_RDONLY);
        HostStream *stream =
            Start(GetParam(), {descriptor, 0, uint64_t(lseek(descriptor, 0, SEEK_END))},
                  STREAM_INPUT_SIZE);
        char buffer[65535];
        for (int i = 0; i < round; i++)
            ASSERT_EQ(stream->Read(buffer, sizeof buffer), int(sizeof buffer));
        delete stream;
    }
}

TEST_P(InflaterTest, MemberCutAtAnyByteIsAnError)
{
    /* A cut that leaves the first member whole is no cut. */
    std::string text = Text(40000);
    for (const std::string &first : {Member(text), MakeBlockMember(text)}) {
        std::string file = first + MakeBlockMember("second");
        for (size_t length = 2; length < file.size();
             length += (length < 300 || file.size() - length < 300) ? 1 : 37) {
            if (length == first.size())
                continue;
            Result result = ReadWith(file.substr(0, length), 7, 4096);
            EXPECT_EQ(result.counts.back(), -1) << "cut at " << length;
            EXPECT_EQ(result.bytes, InflateArchiveFile(file.substr(0, length)).stream)
                << "cut at " << length;
        }
    }
}

TEST_P(InflaterTest, MismatchedTrailerIsReportedWhereTheMemberEnds)
{
    std::string first = Text(100000), second = Text(3000);
    for (size_t fromEnd : {8, 1}) {
        for (std::string damaged : {Member(first), MakeBlockMember(first)}) {
            damaged[damaged.size() - fromEnd] ^= 0x40;
            for (unsigned request : {264u, 65535u}) {
                Result result = ReadWith(damaged + Member(second), request);
                EXPECT_EQ(result.bytes, first)
                    << "trailer byte " << 8 - fromEnd << ", requests of " << request;
                ASSERT_GE(result.counts.size(), 2u);
                EXPECT_EQ(result.counts.back(), -1);
            }
        }
    }
    /* With the member's end on a request's boundary. */
    std::string damaged = Member(Text(264 * 100));
    damaged[damaged.size() - 8] ^= 1;
    Result result = ReadWith(damaged, 264);
    EXPECT_EQ(result.bytes.size(), 264u * 100);
    EXPECT_EQ(result.counts.size(), 101u);
    EXPECT_EQ(result.counts.back(), -1);
}

Inflater inflaters[] = {{"alone", -1}, {"inline", 0}, {"one", 1}, {"four", 4}};

/* The read-ahead hands other writers' members to the streaming reader, so
   this reader alone is checked against zlib. */
class GzipReaderTest : public InflaterTest
{
};

/* Every kind of damage in every kind of block is found where zlib finds it,
   after the same bytes, with zlib's message; a member that ends before its
   end is cut short. */
TEST_F(GzipReaderTest, DamageAnywhereFailsAsZlibFails)
{
    std::string data =
        Text(2000) + MakeData(600, 9) + std::string(300, 'a') + Text(1500).substr(700);
    for (const std::string &member :
         {Member(data), Member(data, 0, 1, Z_FIXED), Member(data, 0, 9, Z_HUFFMAN_ONLY),
          Member(data.substr(0, 900), 0, 0), Member(data, 0x1e, 6, Z_RLE)}) {
        for (size_t at = 3; at < member.size(); at++) {
            for (char flip : {'\x01', '\x24', '\x80'}) {
                std::string damaged = member;
                damaged[at] ^= flip;
                ZlibReading expected = InflateWithZlib(damaged);
                Result result = ReadWith(damaged, 65535, STREAM_INPUT_SIZE, inflaters[0]);
                if (expected.result == Z_STREAM_END) {
                    EXPECT_EQ(result.bytes.substr(0, expected.bytes.size()), expected.bytes) << at;
                    continue;
                }
                EXPECT_EQ(result.bytes, expected.bytes) << "damage at " << at;
                EXPECT_EQ(result.counts.back(), -1) << "damage at " << at;
                EXPECT_EQ(result.error, expected.result == Z_DATA_ERROR ? expected.message
                                                                        : "unexpected end of file")
                    << "damage at " << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Inflaters, InflaterTest, testing::ValuesIn(inflaters),
                         [](const testing::TestParamInfo<Inflater> &info) {
                             return info.param.name;
                         });

} // namespace

#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include "../platform/stream/HostStream.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

using StartFunction = HostStream *(*)(const ArchiveRegion &, unsigned);

struct Inflater {
    const char *name;
    StartFunction start;
};

/* One gzip member of data, with the header fields that flags ask for. */
std::string Member(const std::string &data, unsigned char flags = 0)
{
    std::string header = {'\x1f', '\x8b', '\x08', char(flags), 0, 0, 0, 0, 0, 3};
    if (flags & 0x04)
        header += std::string("\x05\x00" "extra", 7);
    if (flags & 0x08)
        header += std::string("name.txt\0", 9);
    if (flags & 0x10)
        header += std::string("a comment\0", 10);
    if (flags & 0x02) {
        uLong crc = crc32(0, reinterpret_cast<const Bytef *>(header.data()), uInt(header.size()));
        header += char(crc & 0xff);
        header += char((crc >> 8) & 0xff);
    }
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string deflated(data.size() + data.size() / 8 + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(deflated.data());
    stream.avail_out = uInt(deflated.size());
    deflate(&stream, Z_FINISH);
    deflated.resize(stream.total_out);
    deflateEnd(&stream);
    std::string trailer(8, '\0');
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size()));
    for (int i = 0; i < 4; i++) {
        trailer[i] = char(crc >> (8 * i));
        trailer[4 + i] = char(data.size() >> (8 * i));
    }
    return header + deflated + trailer;
}

struct Result {
    std::string bytes;
    std::vector<int> counts; /* each read's result, the last one 0 or -1 */
};

class InflaterTest : public testing::TestWithParam<Inflater> {
protected:
    /* Reads the file to its end or error with requests of the given size,
       the file itself read inputSize bytes at a time. */
    Result ReadWith(const std::string &file, unsigned request, unsigned inputSize = STREAM_INPUT_SIZE)
    {
        std::string path = dir_ / "archive";
        WriteFile(path, file);
        int descriptor = open(path.c_str(), O_RDONLY);
        HostStream *stream =
            GetParam().start({descriptor, 0, uint64_t(lseek(descriptor, 0, SEEK_END))}, inputSize);
        EXPECT_NE(stream, nullptr);
        Result result;
        std::vector<char> buffer(request);
        for (;;) {
            int count = stream->Read(buffer.data(), request);
            result.counts.push_back(count);
            if (count <= 0)
                break;
            result.bytes.append(buffer.data(), size_t(count));
        }
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
    std::string a = Text(200000), b = MakeData(70000, 3);
    struct Case {
        const char *what;
        std::string file;
        std::string stream;
    } cases[] = {
        {"a file without the gzip magic", "plain bytes, not compressed", "plain bytes, not compressed"},
        {"a single byte 0x1f", "\x1f", "\x1f"},
        {"an empty file", "", ""},
        {"two members", Member(a) + Member(b), a + b},
        {"an empty member between two", Member(a) + Member("") + Member(b), a + b},
        {"bytes after the last member", Member(b) + "trailing bytes", b},
        {"one byte after the last member", Member(b) + "\x1f", b},
        {"every header field", Member(a, 0x02 | 0x04 | 0x08 | 0x10), a},
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

TEST_P(InflaterTest, MemberCutAtAnyByteIsAnError)
{
    /* zlib's own gzread misses some of these: a file that ends just as its
       output buffer fills reads as complete. A cut that leaves the first
       member whole and at most one byte of the next is no cut: one byte
       cannot begin a member. */
    std::string text = Text(40000), first = Member(text), file = first + Member("second");
    for (size_t length = 2; length < file.size(); length += (length < 300 || file.size() - length < 300) ? 1 : 37) {
        if (length == first.size() || length == first.size() + 1)
            continue;
        Result result = ReadWith(file.substr(0, length), 65535, 4096);
        EXPECT_EQ(result.counts.back(), -1) << "cut at " << length;
        EXPECT_EQ(result.bytes, (text + "second").substr(0, result.bytes.size())) << "cut at " << length;
    }
}

TEST_P(InflaterTest, MismatchedTrailerIsReportedWhereTheMemberEnds)
{
    std::string first = Text(100000), second = Text(3000);
    std::string firstMember = Member(first);
    for (size_t fromEnd : {8, 1}) {
        std::string damaged = firstMember;
        damaged[damaged.size() - fromEnd] ^= 0x40;
        for (unsigned request : {264u, 65535u}) {
            Result result = ReadWith(damaged + Member(second), request);
            /* Every byte of the member first, then the error, and nothing
               of the next member. */
            EXPECT_EQ(result.bytes, first) << "trailer byte " << 8 - fromEnd << ", requests of " << request;
            ASSERT_GE(result.counts.size(), 2u);
            EXPECT_EQ(result.counts.back(), -1);
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

Inflater inflaters[] = {
    {"zlib", StartZlibInflater},
#if VELORIN_HAVE_ISAL
    {"isal", StartIsalInflater},
#endif
};

INSTANTIATE_TEST_SUITE_P(Inflaters, InflaterTest, testing::ValuesIn(inflaters),
                         [](const testing::TestParamInfo<Inflater> &info) { return info.param.name; });

}  // namespace

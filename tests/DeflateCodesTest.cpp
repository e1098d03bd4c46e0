#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "../platform/stream/BlockMember.h"
#include "../platform/stream/GzipMember.h"
#include "../platform/stream/HostStream.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* Deflate's bits, written lowest first; Huffman codes go most significant bit first. */
class BitWriter
{
  public:
    void Put(uint32_t value, unsigned count)
    {
        for (unsigned i = 0; i < count; i++)
            PutBit((value >> i) & 1);
    }
    void PutCode(uint32_t code, unsigned length)
    {
        for (unsigned i = length; i-- > 0;)
            PutBit((code >> i) & 1);
    }
    void PutBytes(const std::string &bytes)
    {
        bytes_ += bytes;
        used_ = unsigned(bytes_.size() * 8);
    }
    std::string Finish() const { return bytes_; }

  private:
    void PutBit(unsigned bit)
    {
        if (used_ % 8 == 0)
            bytes_.push_back('\0');
        bytes_.back() = char(bytes_.back() | bit << (used_ % 8));
        used_++;
    }
    std::string bytes_;
    unsigned used_ = 0;
};

/* A Huffman code given by its lengths, sent with its canonical codewords. */
struct Code {
    std::vector<uint8_t> lengths;
    void Put(BitWriter &bits, unsigned symbol) const
    {
        uint32_t next = 0;
        for (unsigned length = 1; length < 16; length++, next <<= 1)
            for (size_t other = 0; other < lengths.size(); other++)
                if (lengths[other] == length) {
                    if (other == symbol)
                        return bits.PutCode(next, length);
                    next++;
                }
    }
};

Code Lengths(size_t count, std::initializer_list<std::pair<unsigned, uint8_t>> used)
{
    Code code{std::vector<uint8_t>(count, 0)};
    for (auto [symbol, length] : used)
        code.lengths[symbol] = length;
    return code;
}

const unsigned lengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

/* A last dynamic block's header, its code lengths sent one by one with a
   code length code of sixteen 4-bit codes (lengths 0 to 15). */
void PutDynamicHeader(BitWriter &bits, const Code &litlen, const Code &distances)
{
    Code plain = Lengths(19, {});
    for (unsigned symbol = 0; symbol < 16; symbol++)
        plain.lengths[symbol] = 4;
    bits.Put(1, 1);
    bits.Put(2, 2);
    bits.Put(uint32_t(litlen.lengths.size() - 257), 5);
    bits.Put(uint32_t(distances.lengths.size() - 1), 5);
    bits.Put(19 - 4, 4);
    for (unsigned symbol : lengthOrder)
        bits.Put(plain.lengths[symbol], 3);
    for (const Code *code : {&litlen, &distances})
        for (uint8_t length : code->lengths)
            plain.Put(bits, length);
}

/* 'a', 256 and 257 (a match of 3): a complete literal/length code. */
const Code smallLitlen = Lengths(258, {{'a', 1}, {256, 2}, {257, 2}});
const Code twoDistances = Lengths(2, {{0, 1}, {1, 1}});

/* A block of "a" and the end, with the codes given. */
std::string LiteralBlock(const Code &litlen, const Code &distances)
{
    BitWriter bits;
    PutDynamicHeader(bits, litlen, distances);
    litlen.Put(bits, 'a');
    litlen.Put(bits, 256);
    return bits.Finish();
}

/* A stored block of 65,535 'b's, which any distance may reach into, then a
   fixed block of "a" and literal/length code symbol (a match, at distance
   code distance with its extra bits zero, for a length code). */
std::string FixedBlock(unsigned distance, unsigned symbol = 257)
{
    BitWriter bits;
    bits.Put(0, 8);
    bits.PutBytes(std::string("\xff\xff\0\0", 4) + std::string(65535, 'b'));
    bits.Put(1, 1);
    bits.Put(1, 2);
    bits.PutCode(0x30 + 'a', 8);
    bits.PutCode(symbol < 280 ? symbol - 256 : 0xc0 + symbol - 280, symbol < 280 ? 7 : 8);
    bits.PutCode(distance, 5);
    bits.Put(0, distance < 4 ? 0 : distance / 2 - 1);
    bits.PutCode(0, 7);
    return bits.Finish();
}

/* The block of "a" whose last run of zero code lengths runs ten past the
   lengths the header announces (258 literal/length and 2 distance codes). */
std::string RepeatPastTheLengths()
{
    /* The code length code: 0, 1, 2 and 18 (a run of 11 to 138 zeros), 2 bits each. */
    Code lengthCode = Lengths(19, {{0, 2}, {1, 2}, {2, 2}, {18, 2}});
    BitWriter bits;
    bits.Put(1, 1);
    bits.Put(2, 2);
    bits.Put(258 - 257, 5);
    bits.Put(2 - 1, 5);
    bits.Put(19 - 4, 4);
    for (unsigned symbol : lengthOrder)
        bits.Put(lengthCode.lengths[symbol], 3);
    auto zeros = [&](unsigned count) {
        lengthCode.Put(bits, 18);
        bits.Put(count - 11, 7);
    };
    zeros('a');
    lengthCode.Put(bits, 1);
    zeros(138);
    zeros(255 - 'a' - 138);
    lengthCode.Put(bits, 2);
    lengthCode.Put(bits, 2);
    lengthCode.Put(bits, 1);
    zeros(11);
    smallLitlen.Put(bits, 'a');
    smallLitlen.Put(bits, 256);
    return bits.Finish();
}

struct Case {
    const char *what;
    std::string deflated;
};

/* Deflate data that zlib refuses and a lenient decoder (libdeflate, for
   one) takes: more codes than deflate has, the unused codeword of an
   incomplete code, the symbols that deflate leaves undefined in a fixed
   block, code lengths beyond those announced. */
std::vector<Case> RefusedCases()
{
    std::vector<Case> cases;
    {
        BitWriter bits;
        PutDynamicHeader(bits, smallLitlen, Lengths(1, {{0, 1}}));
        smallLitlen.Put(bits, 'a');
        smallLitlen.Put(bits, 257);
        bits.PutCode(1, 1);
        smallLitlen.Put(bits, 256);
        cases.push_back({"the unused codeword of a one-code distance code", bits.Finish()});
    }
    {
        BitWriter bits;
        PutDynamicHeader(bits, smallLitlen, Lengths(1, {}));
        smallLitlen.Put(bits, 'a');
        smallLitlen.Put(bits, 257);
        bits.PutCode(0, 1);
        smallLitlen.Put(bits, 256);
        cases.push_back({"a match with an empty distance code", bits.Finish()});
    }
    {
        BitWriter bits;
        PutDynamicHeader(bits, Lengths(257, {{256, 1}}), twoDistances);
        bits.PutCode(1, 1);
        cases.push_back({"the unused codeword of a one-code literal/length code", bits.Finish()});
    }
    cases.push_back({"287 literal/length codes",
                     LiteralBlock(Lengths(287, {{'a', 1}, {256, 2}, {286, 2}}), twoDistances)});
    cases.push_back({"288 literal/length codes",
                     LiteralBlock(Lengths(288, {{'a', 1}, {256, 2}, {287, 2}}), twoDistances)});
    cases.push_back(
        {"31 distance codes", LiteralBlock(smallLitlen, Lengths(31, {{0, 1}, {30, 1}}))});
    cases.push_back(
        {"32 distance codes", LiteralBlock(smallLitlen, Lengths(32, {{0, 1}, {31, 1}}))});
    cases.push_back({"distance code 30 in a fixed block", FixedBlock(30)});
    cases.push_back({"distance code 31 in a fixed block", FixedBlock(31)});
    cases.push_back({"literal/length code 286 in a fixed block", FixedBlock(0, 286)});
    cases.push_back({"literal/length code 287 in a fixed block", FixedBlock(0, 287)});
    cases.push_back({"a run of code lengths past those announced", RepeatPastTheLengths()});
    return cases;
}

std::string AppendLittleEndian32(std::string bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(char(value >> shift));
    return bytes;
}

/* What libdeflate makes of deflate data; refused, nothing. */
std::string InflateLeniently(const std::string &deflated, bool *taken = nullptr)
{
    std::string out(1 << 20, '\0');
    size_t size = 0;
    libdeflate_decompressor *decompressor = libdeflate_alloc_decompressor();
    bool success =
        libdeflate_deflate_decompress(decompressor, deflated.data(), deflated.size(), out.data(),
                                      out.size(), &size) == LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(decompressor);
    if (taken != nullptr)
        *taken = success;
    out.resize(success ? size : 0);
    return out;
}

/* A block member of the deflate data, with the CRC-32 and length of what
   libdeflate makes of them, so that only the codes can refuse them. */
std::string WrapAsBlock(const std::string &deflated)
{
    std::string out = InflateLeniently(deflated);
    std::string member("\x1f\x8b\x08\x04\0\0\0\0\0\x03\x08\0VB\x04\0", 16);
    member = AppendLittleEndian32(member, uint32_t(BLOCK_HEADER_SIZE + deflated.size() + 8));
    member += deflated;
    member = AppendLittleEndian32(
        member, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(out.data()), uInt(out.size()))));
    return AppendLittleEndian32(member, uint32_t(out.size()));
}

/* The same member as an ordinary one, which only the streaming reader reads. */
std::string AsPlainMember(const std::string &block)
{
    return std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + block.substr(BLOCK_HEADER_SIZE);
}

/* Whether zlib's inflate takes a gzip member whole. */
bool ZlibTakes(const std::string &member)
{
    z_stream stream{};
    inflateInit2(&stream, 31);
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(member.data()));
    stream.avail_in = uInt(member.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

struct Reading {
    std::string bytes;
    int end = 0; /* the last read's result */
    std::string error;
};

/* Reads the stream to its end and closes it, as the stream functions do. */
Reading ReadAll(HostStream *stream)
{
    Reading reading;
    char buffer[4096];
    while ((reading.end = stream->Read(buffer, sizeof buffer)) > 0)
        reading.bytes.append(buffer, size_t(reading.end));
    reading.error = stream->DescribeError(nullptr);
    delete stream;
    CloseArchiveFile();
    return reading;
}

/* Opens an archive by name, as the stream functions do. */
HostStream *OpenByName(const std::string &path)
{
    ArchiveRegion region;
    return OpenArchiveFile(path.c_str(), region) ? StartInflater(region) : nullptr;
}

class DeflateCodesTest : public testing::Test
{
  protected:
    /* workers < 0: the streaming reader alone. archive: as an opening of
       that number, which relies on what an earlier one took. */
    Reading Read(const std::string &file, int workers, uint64_t archive = 0)
    {
        std::string path = dir_ / "archive";
        WriteFile(path, file);
        ArchiveRegion region = {open(path.c_str(), O_RDONLY), 0, file.size(), archive};
        return ReadAll(workers < 0 ? StartGzipReader(region)
                                   : StartInflater(region, unsigned(workers)));
    }

    TempDir dir_;
};

TEST_F(DeflateCodesTest, BlocksAreRefusedWhereTheStreamingReaderRefusesThem)
{
    std::string before = MakeBlockMember("some bytes before"), after = MakeBlockMember("and after");
    uint64_t archive = 1000;
    for (const Case &c : RefusedCases()) {
        SCOPED_TRACE(c.what);
        bool lenient = false;
        InflateLeniently(c.deflated, &lenient);
        EXPECT_TRUE(lenient) << "a case that libdeflate refuses as well";
        std::string block = WrapAsBlock(c.deflated);
        ASSERT_FALSE(ZlibTakes(block));
        std::string file = before + block + after;
        Reading alone = Read(file, -1);
        EXPECT_EQ(alone.end, -1);
        EXPECT_EQ(alone.bytes.substr(0, 17), "some bytes before");
        EXPECT_EQ(alone.bytes.find("and after"), std::string::npos);
        /* The first reading of an archive and a later one alike. */
        archive++;
        for (uint64_t number : {uint64_t(0), archive, archive}) {
            for (int workers : {0, 1, 4}) {
                SCOPED_TRACE(std::to_string(workers) + " threads, archive " +
                             std::to_string(number));
                Reading ahead = Read(file, workers, number);
                EXPECT_EQ(ahead.end, -1);
                EXPECT_EQ(ahead.bytes, alone.bytes);
                EXPECT_EQ(ahead.error, alone.error);
            }
        }
    }
}

/* A thread's inflater goes on to the next block after one it refused,
   whether that one inflated to more than a block holds or was damaged. */
TEST_F(DeflateCodesTest, TheInflaterOfAThreadStartsEachBlockAfresh)
{
    std::string large = MakeBlockMember(MakeData(BLOCK_INPUT_LIMIT + 5000, 3), 1);
    std::string damaged = MakeBlockMember(std::string(5000, 'x'));
    damaged[damaged.size() - 8] ^= 0x10;
    std::string whole = MakeData(BLOCK_INPUT_LIMIT, 4), small = "a small block";
    GzipMember inflater;
    std::vector<unsigned char> out(BLOCK_INPUT_LIMIT);
    const char *damage = nullptr;
    auto inflate = [&](const std::string &member) {
        long count =
            InflateBlockMember(inflater, reinterpret_cast<const unsigned char *>(member.data()),
                               uint32_t(member.size()), out.data(), &damage);
        return count < 0 ? std::string("refused") : std::string(out.begin(), out.begin() + count);
    };
    struct Refused {
        std::string member;
        bool damaged;
    };
    for (const Refused &refused : {Refused{large, false}, Refused{damaged, true},
                                   Refused{WrapAsBlock(RefusedCases()[0].deflated), true}}) {
        EXPECT_EQ(inflate(refused.member), "refused");
        /* Damage is named, so that a reading can say why before it meets
           it; a block that is only too large for one is no damage. */
        EXPECT_EQ(damage != nullptr, refused.damaged);
        EXPECT_EQ(inflate(MakeBlockMember(small)), small);
        EXPECT_EQ(inflate(MakeBlockMember(whole, 1)), whole);
        EXPECT_EQ(damage, nullptr);
    }
}

/* velorin and velorin-pack -verify give each block what they give the same
   data in an ordinary member: the same refusal, for the same reason. */
TEST_F(DeflateCodesTest, ProgramsRefuseTheBlockAsAnOrdinaryMember)
{
    mkdir((dir_ / "out").c_str(), 0777);
    for (const Case &c : RefusedCases()) {
        SCOPED_TRACE(c.what);
        std::string block = WrapAsBlock(c.deflated);
        /* An entry that holds exactly what libdeflate makes of the data. */
        uint32_t size = uint32_t(InflateLeniently(c.deflated).size());
        std::string header = MakeBlockMember(StreamBuilder().Entry("blob", size, 0).Bytes());
        std::vector<RunResult> unpacked, verified;
        for (const std::string &member : {AsPlainMember(block), block}) {
            std::string archive = dir_ / "refused.gz";
            WriteFile(archive, header + member);
            unpacked.push_back(RunVelorin({"-archive", archive, "-dest", dir_ / "out"}));
            verified.push_back(RunPack({"-verify", archive}));
        }
        EXPECT_NE(unpacked[0].err.find("invalid compressed data ("), std::string::npos)
            << unpacked[0].err;
        EXPECT_EQ(unpacked[1].err, unpacked[0].err);
        EXPECT_EQ(unpacked[1].exitCode, unpacked[0].exitCode);
        EXPECT_EQ(verified[0].exitCode, 1);
        EXPECT_EQ(verified[1].out, verified[0].out);
        EXPECT_EQ(verified[1].exitCode, verified[0].exitCode);
    }
}

/* A run whose first pass meets damage ends at once, while the threads may
   still be inflating and recording the blocks after it: that must not
   break its exit. */
TEST_F(DeflateCodesTest, ARunEndingInItsFirstPassEndsCleanly)
{
    std::string block = WrapAsBlock(RefusedCases()[3].deflated);
    uint32_t size = uint32_t(InflateLeniently(RefusedCases()[3].deflated).size());
    std::string header = MakeBlockMember(StreamBuilder().Entry("blob", size, 0).Bytes()), rest;
    for (unsigned i = 0; i < 24; i++)
        rest += MakeBlockMember(MakeData(BLOCK_INPUT_LIMIT, i), 1);
    WriteFile(dir_ / "refused.gz", header + block + rest);
    WriteFile(dir_ / "plain.gz", header + AsPlainMember(block) + rest);
    mkdir((dir_ / "out").c_str(), 0777);
    RunResult plain = RunVelorin({"-archive", dir_ / "plain.gz", "-dest", dir_ / "out"});
    for (int round = 0; round < 5; round++) {
        RunResult result =
            BackgroundVelorin({"-archive", dir_ / "refused.gz", "-dest", dir_ / "out"}).Finish(120);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exitCode, plain.exitCode);
        EXPECT_EQ(result.err, plain.err);
    }
}

/* A block that changed between the readings, where the file's size and
   modification time were put back, is read by the exact inflater again:
   an installer's archive is checked by no more than these. */
TEST_F(DeflateCodesTest, ABlockChangedAfterTheFirstReadingIsNotTakenOnTrust)
{
    /* Two members of the same size: a sound one, and one whose fixed block
       uses literal/length code 286 where the sound one uses 285. */
    std::string sound = WrapAsBlock(FixedBlock(0, 285));
    std::string refused = WrapAsBlock(FixedBlock(0, 286));
    ASSERT_EQ(sound.size(), refused.size());
    ASSERT_TRUE(ZlibTakes(sound));
    std::string before = MakeBlockMember(MakeData(300000, 5), 1), after = MakeBlockMember("after");
    std::string path = dir_ / "installer";
    WriteFile(path, "program part" + before + sound + after);
    int descriptor = open(path.c_str(), O_RDWR);
    ASSERT_GE(descriptor, 0);
    struct stat status;
    ASSERT_EQ(fstat(descriptor, &status), 0);
    HoldArchiveRegion(path.c_str(), {descriptor, 12, uint64_t(status.st_size) - 12});

    HostStream *stream = OpenByName(path);
    ASSERT_NE(stream, nullptr);
    Reading first = ReadAll(stream);
    ASSERT_EQ(first.end, 0) << first.error;
    ASSERT_EQ(first.bytes.size(), 300000 + 65535 + 1 + 258 + 5);

    ASSERT_EQ(pwrite(descriptor, refused.data(), refused.size(), off_t(12 + before.size())),
              ssize_t(refused.size()));
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    ASSERT_EQ(futimens(descriptor, times), 0);
    stream = OpenByName(path);
    ASSERT_NE(stream, nullptr);
    Reading later = ReadAll(stream);
    EXPECT_EQ(later.end, -1);
    EXPECT_EQ(later.error, "invalid literal/length code");
    EXPECT_TRUE(later.bytes == first.bytes.substr(0, 300000 + 65535 + 1));
}

} // namespace

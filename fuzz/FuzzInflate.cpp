// Feeds arbitrary bytes, and files of gzip members built from the input
// (members in velorin-pack's block format and others, mixed, some with a
// wrong size in their block header, one byte damaged, cut short, bytes
// after the last member) to the stream layer's readers: GzipReader alone on the
// caller's thread, and the read-ahead with no thread and with one to four,
// each read with request sizes of its own. Checks every reading against an
// independent one that inflates the file with zlib member by member: the
// same bytes and the same end where the file is sound; a failure where it
// is not, after the same bytes where the fault's place is certain. And the
// read-ahead delivers exactly what GzipReader alone does, bytes and fault,
// also when its threads read the file a second time as the same archive,
// giving libdeflate the blocks that the first reading took.
// Raw deflate data from the input may also be wrapped as a block member
// whose CRC-32 and length are those of libdeflate's reading, so that data
// libdeflate takes and zlib refuses (codes a strict reader does not read
// alike) reach the read-ahead with a trailer that matches.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include "../platform/stream/HostStream.h"
#include "../tests/support/ArchiveOracle.h"

namespace
{

/* More than this is not compared: a small input may inflate a thousandfold. */
constexpr size_t OUTPUT_LIMIT = 16u << 20;

struct Reading {
    std::string bytes;
    bool failed = false;
    int code = 0;         /* the error's code, as gzerror gives it */
    bool complete = true; /* false when cut at OUTPUT_LIMIT */
};

/* Request sizes from one byte to more than the piece buffer, mostly small,
   so that requests end anywhere against the members and the input. */
class Requests
{
  public:
    explicit Requests(uint32_t seed) : random_(seed) {}
    unsigned Next()
    {
        unsigned kind = random_() % 10;
        if (kind < 5)
            return 1 + random_() % 16;
        if (kind < 8)
            return 1 + random_() % 1024;
        return 1 + random_() % 70000;
    }

  private:
    std::minstd_rand random_;
};

[[noreturn]] void Report(const char *finding)
{
    fprintf(stderr, "FINDING: %s\n", finding);
    abort();
}

int OpenAgain(int file)
{
    std::string path = "/proc/self/fd/" + std::to_string(file);
    int descriptor = open(path.c_str(), O_RDONLY);
    if (descriptor < 0)
        abort();
    return descriptor;
}

Reading ReadStream(HostStream *stream, uint32_t seed)
{
    Reading reading;
    Requests requests(seed);
    std::string buffer;
    bool wasShort = false;
    while (reading.bytes.size() < OUTPUT_LIMIT) {
        unsigned length = requests.Next();
        buffer.resize(length);
        int count = stream->Read(buffer.data(), length);
        if (count < 0) {
            reading.failed = true;
            break;
        }
        /* Fewer bytes than asked for only at the end or on an error. */
        if (unsigned(count) > length || (wasShort && count != 0))
            Report("a read delivers more than asked for, or more after a short read");
        reading.bytes.append(buffer.data(), size_t(count));
        if (count == 0)
            break;
        wasShort = unsigned(count) < length;
    }
    reading.complete = reading.bytes.size() < OUTPUT_LIMIT;
    stream->DescribeError(&reading.code);
    if (reading.complete && reading.failed != (reading.code != Z_OK))
        Report("a reading's error code does not match its result");
    delete stream;
    return reading;
}

bool SamePrefix(const std::string &a, const std::string &b)
{
    size_t common = a.size() < b.size() ? a.size() : b.size();
    return memcmp(a.data(), b.data(), common) == 0;
}

void CompareWithIndependent(const InflatedFile &expected, const Reading &reading)
{
    if (!SamePrefix(expected.stream, reading.bytes))
        Report("a reader and the independent reading deliver different bytes");
    if (!reading.complete)
        return;
    if (expected.sound && (reading.failed || reading.bytes.size() != expected.stream.size()))
        Report("the file is sound, a reader ends otherwise");
    if (!expected.sound && !reading.failed)
        Report("the file is damaged, a reader reports no error");
    if (!expected.sound && expected.exact && reading.bytes.size() != expected.stream.size())
        Report("a reader fails elsewhere than where the damage is certain");
}

void CompareWithReaderAlone(const Reading &alone, const Reading &reading)
{
    if (!SamePrefix(alone.bytes, reading.bytes))
        Report("the read-ahead and the reader alone deliver different bytes");
    if (alone.complete && reading.complete &&
        (alone.bytes.size() != reading.bytes.size() || alone.failed != reading.failed ||
         alone.code != reading.code))
        Report("the read-ahead and the reader alone end differently");
}

void AppendLittleEndian32(std::string &bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(char(value >> shift));
}

/* One member of data: in the block format when block is set, its size in
   the header off by sizeError. */
std::string MakeMember(const uint8_t *data, size_t size, int level, bool block, int sizeError)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        abort();
    /* Room enough for any level: stored blocks add 5 bytes a block. */
    std::string deflated(size + size / 8 + 1024, '\0');
    stream.next_in = const_cast<Bytef *>(data);
    stream.avail_in = uInt(size);
    stream.next_out = reinterpret_cast<Bytef *>(deflated.data());
    stream.avail_out = uInt(deflated.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        abort();
    deflated.resize(stream.total_out);
    deflateEnd(&stream);
    std::string member("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    if (block) {
        member[3] = 0x04;
        member += std::string("\x08\0VB\x04\0", 6);
        AppendLittleEndian32(member, uint32_t(20 + deflated.size() + 8 + sizeError));
    }
    member += deflated;
    AppendLittleEndian32(member, uint32_t(crc32(0, data, uInt(size))));
    AppendLittleEndian32(member, uint32_t(size));
    return member;
}

/* The raw deflate data as the one member of a block file, its CRC-32 and
   length those of what libdeflate makes of them (nothing when it refuses). */
std::string WrapAsBlock(const uint8_t *data, size_t size)
{
    static libdeflate_decompressor *decompressor = libdeflate_alloc_decompressor();
    static std::string out(1u << 20, '\0');
    size_t made = 0;
    if (libdeflate_deflate_decompress(decompressor, data, size, out.data(), out.size(), &made) !=
        LIBDEFLATE_SUCCESS)
        made = 0;
    std::string member("\x1f\x8b\x08\x04\0\0\0\0\0\x03\x08\0VB\x04\0", 16);
    AppendLittleEndian32(member, uint32_t(20 + size + 8));
    member.append(reinterpret_cast<const char *>(data), size);
    AppendLittleEndian32(
        member, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(out.data()), uInt(made))));
    AppendLittleEndian32(member, uint32_t(made));
    return member;
}

/* Members built from the input, as the mode and seed bits ask: the input
   cut into up to four pieces, each a block or not, one block's size maybe
   wrong, one byte maybe damaged, the file maybe cut short, bytes maybe
   appended. */
std::string MakeMembers(const uint8_t *data, size_t size, uint8_t mode, uint32_t seed)
{
    std::minstd_rand random(seed);
    std::string file;
    unsigned pieces = 1 + (mode >> 1) % 4;
    size_t from = 0;
    for (unsigned piece = 0; piece < pieces; piece++) {
        size_t to = piece + 1 == pieces ? size : from + (size - from) * (random() % 100) / 100;
        bool block = (mode & 0x08) ? (random() & 1) != 0 : true;
        int sizeError = (mode & 0x10) && random() % 3 == 0 ? int(random() % 9) - 4 : 0;
        file += MakeMember(data + from, to - from, int(random() % 10), block, sizeError);
        from = to;
    }
    if ((mode & 0x20) && !file.empty())
        file[random() % file.size()] ^= char(1 + random() % 255);
    if ((mode & 0x40) && !file.empty())
        file.resize(random() % file.size());
    if (mode & 0x80)
        file += random() % 2 ? std::string(1 + random() % 600, '\0') : std::string("\0\0x", 3);
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    static const unsigned inputSizes[] = {1, 2, 3, 5, 8, 13, 64, 4096, STREAM_INPUT_SIZE};
    uint8_t mode = data[0];
    unsigned inputSize = inputSizes[data[1] % (sizeof inputSizes / sizeof inputSizes[0])];
    uint32_t seed = (uint32_t(data[2]) | uint32_t(data[3]) << 8) * 2654435761u;
    /* Odd modes: the input is the file, or with bit 1 the deflate data of a block. */
    std::string file = !(mode & 1) ? MakeMembers(data + 4, size - 4, mode, seed)
                       : (mode & 2)
                           ? WrapAsBlock(data + 4, size - 4)
                           : std::string(reinterpret_cast<const char *>(data + 4), size - 4);

    int memory = memfd_create("archive", 0);
    if (memory < 0 || write(memory, file.data(), file.size()) != ssize_t(file.size()))
        abort();
    InflatedFile expected = InflateArchiveFile(file);
    ArchiveRegion whole = {OpenAgain(memory), 0, file.size()};
    Reading alone = ReadStream(StartGzipReader(whole, inputSize), seed + 1);
    CompareWithIndependent(expected, alone);
    /* The caller's reads inflating, and one of one to four threads, which
       read the archive twice: the later reading gives libdeflate the blocks
       that the first one took. */
    static uint64_t archive = 0;
    archive++;
    for (unsigned workers : {0u, 1 + seed % 4, 1 + seed % 4}) {
        whole.descriptor = OpenAgain(memory);
        whole.archive = workers == 0 ? 0 : archive;
        Reading ahead = ReadStream(StartInflater(whole, workers, inputSize), seed + 2 + workers);
        CompareWithIndependent(expected, ahead);
        CompareWithReaderAlone(alone, ahead);
    }
    close(memory);
    return 0;
}

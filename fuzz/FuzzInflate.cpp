// Feeds arbitrary bytes, and zlib-compressed data with one byte damaged, to
// both inflaters and to zlib's own gzip reading, each read with request
// sizes of its own, and checks: wherever zlib reads the whole stream without
// an error, both inflaters deliver the same bytes and end as well; wherever
// zlib reports an error, both report one too, and every byte that two of
// them delivered before their errors is the same.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include "../platform/stream/HostStream.h"

namespace {

/* More than this is not compared: a small input may inflate a thousandfold. */
constexpr size_t OUTPUT_LIMIT = 16u << 20;

struct Reading {
    std::string bytes;
    bool failed = false;
    int code = 0;        /* the error's code, as gzerror gives it */
    bool complete = true; /* false when cut at OUTPUT_LIMIT */
};

/* How an input is turned into a file and read. */
struct Plan {
    unsigned inputSize;
    uint32_t seed;
};

/* Request sizes from one byte to more than the piece buffer, mostly small,
   so that requests end anywhere against the members and the input. */
class Requests {
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

int OpenAgain(int file)
{
    std::string path = "/proc/self/fd/" + std::to_string(file);
    int descriptor = open(path.c_str(), O_RDONLY);
    if (descriptor < 0)
        abort();
    return descriptor;
}

Reading ReadInflater(HostStream *stream, uint32_t seed)
{
    Reading reading;
    if (stream == nullptr)
        abort();
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
        if (unsigned(count) > length || (wasShort && count != 0)) {
            fprintf(stderr, "FINDING: a read delivers %d bytes of %u asked for%s\n", count, length,
                    wasShort ? " after a short one" : "");
            abort();
        }
        reading.bytes.append(buffer.data(), size_t(count));
        if (count == 0)
            break;
        wasShort = unsigned(count) < length;
    }
    reading.complete = reading.bytes.size() < OUTPUT_LIMIT;
    stream->DescribeError(&reading.code);
    if (reading.failed != (reading.code != Z_OK))
        abort();
    delete stream;
    return reading;
}

/* zlib's gzip file reading, the reference. Where it hands back part of a
   member that breaks off, only gzerror's Z_BUF_ERROR says so. */
Reading ReadZlibFile(int descriptor, uint32_t seed)
{
    Reading reading;
    gzFile file = gzdopen(descriptor, "rb");
    if (file == nullptr)
        abort();
    Requests requests(seed);
    std::string buffer;
    while (reading.bytes.size() < OUTPUT_LIMIT) {
        unsigned length = requests.Next();
        buffer.resize(length);
        int count = gzread(file, buffer.data(), length);
        if (count <= 0) {
            gzerror(file, &reading.code);
            reading.failed = count < 0 || reading.code != Z_OK;
            break;
        }
        reading.bytes.append(buffer.data(), size_t(count));
    }
    reading.complete = reading.bytes.size() < OUTPUT_LIMIT;
    gzclose(file);
    return reading;
}

bool SamePrefix(const std::string &a, const std::string &b)
{
    size_t common = a.size() < b.size() ? a.size() : b.size();
    return memcmp(a.data(), b.data(), common) == 0;
}

[[noreturn]] void Report(const char *finding)
{
    fprintf(stderr, "FINDING: %s\n", finding);
    abort();
}

/* The two inflaters must agree exactly: the same bytes, and an error in the
   one wherever the other has one. */
void CompareInflaters(const Reading &zlib, const Reading &isal)
{
    if (!SamePrefix(zlib.bytes, isal.bytes))
        Report("the inflaters deliver different bytes");
    if (!zlib.complete || !isal.complete)
        return;
    if (zlib.failed != isal.failed)
        Report(zlib.failed ? "the zlib inflater reports an error, the ISA-L one none"
                           : "the ISA-L inflater reports an error, the zlib one none");
    if (!zlib.failed && zlib.bytes.size() != isal.bytes.size())
        Report("the inflaters end in different places");
}

/* zlib's own gzip reading has one known fault: when the file ends inside a
   member just as its output buffer fills, it ends without an error and
   without the output it still holds. There an inflater may go on further
   and must then report the stream as broken off. */
void CompareWithZlibFile(const Reading &file, const Reading &reading)
{
    if (!SamePrefix(file.bytes, reading.bytes))
        Report("an inflater and zlib's gzread deliver different bytes");
    if (!file.complete || !reading.complete)
        return;
    if (file.failed && !reading.failed)
        Report("zlib's gzread reports an error, an inflater none");
    if (file.failed || (reading.bytes.size() == file.bytes.size() && !reading.failed))
        return;
    if (!reading.failed || reading.code != Z_BUF_ERROR || reading.bytes.size() < file.bytes.size())
        Report("zlib's gzread reads the whole stream, an inflater ends otherwise");
}

/* Compresses data as one or two gzip members and damages one byte, when the
   input asks for it: the damage then lands in real deflate data, headers
   and trailers far more often than random bytes would. */
std::string MakeDamagedMembers(const uint8_t *data, size_t size, uint8_t mode, uint32_t seed)
{
    std::string file;
    size_t split = (mode & 0x40) ? size / 2 : size;
    for (auto [from, to] : {std::pair{size_t(0), split}, std::pair{split, size}}) {
        if (from == to && from != 0)
            continue;
        z_stream stream{};
        if (deflateInit2(&stream, (mode >> 1) % 10, Z_DEFLATED, 15 + 16, 8 + (mode >> 7),
                         Z_DEFAULT_STRATEGY) != Z_OK)
            abort();
        /* Room enough for any level: stored blocks add 5 bytes a block. */
        std::string member((to - from) + (to - from) / 8 + 1024, '\0');
        stream.next_in = const_cast<Bytef *>(data + from);
        stream.avail_in = uInt(to - from);
        stream.next_out = reinterpret_cast<Bytef *>(member.data());
        stream.avail_out = uInt(member.size());
        if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
            abort();
        member.resize(stream.total_out);
        deflateEnd(&stream);
        file += member;
    }
    if ((mode & 0x20) && !file.empty())
        file[seed % file.size()] ^= char((seed >> 24) | 1);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    static const unsigned inputSizes[] = {1, 2, 3, 5, 8, 13, 64, 4096, STREAM_INPUT_SIZE};
    uint8_t mode = data[0];
    Plan plan;
    plan.inputSize = inputSizes[data[1] % (sizeof inputSizes / sizeof inputSizes[0])];
    plan.seed = uint32_t(data[2]) | uint32_t(data[3]) << 8;
    plan.seed = plan.seed * 2654435761u;
    std::string file = (mode & 1) ? std::string(reinterpret_cast<const char *>(data + 4), size - 4)
                                  : MakeDamagedMembers(data + 4, size - 4, mode, plan.seed);

    int memory = memfd_create("archive", 0);
    if (memory < 0 || write(memory, file.data(), file.size()) != ssize_t(file.size()))
        abort();
    Reading reference = ReadZlibFile(OpenAgain(memory), plan.seed);
    ArchiveRegion whole = {-1, 0, file.size()};
    whole.descriptor = OpenAgain(memory);
    Reading zlib = ReadInflater(StartZlibInflater(whole, plan.inputSize), plan.seed + 1);
    whole.descriptor = OpenAgain(memory);
    Reading isal = ReadInflater(StartIsalInflater(whole, plan.inputSize), plan.seed + 2);
    close(memory);
    CompareWithZlibFile(reference, zlib);
    CompareWithZlibFile(reference, isal);
    CompareInflaters(zlib, isal);
    return 0;
}

// Times the stream layer's inflater (GzipMember) against zlib's inflate on
// gzip files, each read whole into memory first and inflated in the stream
// layer's input pieces into a 256 KiB buffer, the two taking turns round
// after round. Prints each one's best and median time and their ratio.
// A file of velorin-pack's blocks is timed instead as the read-ahead inflates
// it, block after block on one thread, each whole into one block's room:
// libdeflate (with its CRC-32), as a second reading does, against the stream
// layer's inflater, which takes and refuses exactly what zlib does, as the
// first reading does.
// Usage: velorin-bench-inflate ROUNDS FILE.gz...

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

#include "../platform/stream/BlockMember.h"
#include "../platform/stream/GzipMember.h"
#include "../platform/stream/HostStream.h"

namespace
{

constexpr unsigned OUTPUT = 262144;

/* The bytes of the first member's data: the same figure from both. */
uint64_t InflateWithZlib(const std::string &file)
{
    z_stream stream{};
    inflateInit2(&stream, 15 + 16);
    std::vector<unsigned char> out(OUTPUT);
    uint64_t total = 0;
    size_t at = 0;
    int result = Z_OK;
    while (result == Z_OK || result == Z_BUF_ERROR) {
        if (stream.avail_in == 0 && at < file.size()) {
            size_t piece = std::min<size_t>(STREAM_INPUT_SIZE, file.size() - at);
            stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(file.data() + at));
            stream.avail_in = uInt(piece);
            at += piece;
        }
        stream.next_out = out.data();
        stream.avail_out = OUTPUT;
        result = inflate(&stream, Z_NO_FLUSH);
        total += OUTPUT - stream.avail_out;
        if (result == Z_BUF_ERROR && at == file.size())
            break;
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END ? total : 0;
}

uint64_t InflateWithOurs(const std::string &file)
{
    GzipMember member;
    member.Begin();
    std::vector<unsigned char> out(OUTPUT);
    uint64_t total = 0;
    size_t at = 0;
    const unsigned char *next = nullptr;
    unsigned available = 0;
    for (;;) {
        if (available == 0 && at < file.size()) {
            size_t piece = std::min<size_t>(STREAM_INPUT_SIZE, file.size() - at);
            next = reinterpret_cast<const unsigned char *>(file.data() + at);
            available = unsigned(piece);
            at += piece;
        }
        unsigned produced = 0;
        GzipMember::Step step = member.Inflate(next, available, out.data(), OUTPUT, &produced);
        total += produced;
        if (step == GzipMember::Step::MemberEnd)
            return total;
        if (step == GzipMember::Step::Failed ||
            (step == GzipMember::Step::NeedInput && at == file.size()))
            return 0;
    }
}

/* Every block member of the file, inflated whole into one block's room:
   with libdeflate (and the trailer's checks), or with the exact inflater.
   The bytes inflated, or 0 when a member is not a block or fails. */
uint64_t InflateBlocks(const std::string &file, bool exactly)
{
    static libdeflate_decompressor *decompressor = libdeflate_alloc_decompressor();
    static std::vector<unsigned char> out(BLOCK_INPUT_LIMIT);
    uint64_t total = 0;
    for (size_t at = 0; at < file.size();) {
        const auto *member = reinterpret_cast<const unsigned char *>(file.data() + at);
        uint32_t size = file.size() - at >= BLOCK_HEADER_SIZE ? ReadBlockSize(member) : 0;
        if (size == 0 || size > file.size() - at)
            return 0;
        static GzipMember inflater;
        const char *damage = nullptr;
        long inflated = exactly
                            ? InflateBlockMember(inflater, member, size, out.data(), &damage)
                            : InflateAcceptedBlockMember(decompressor, member, size, out.data());
        if (inflated < 0)
            return 0;
        total += uint64_t(inflated);
        at += size;
    }
    return total;
}

uint64_t InflateBlocksWithLibdeflate(const std::string &file)
{
    return InflateBlocks(file, false);
}

uint64_t InflateBlocksExactly(const std::string &file)
{
    return InflateBlocks(file, true);
}

double Seconds(uint64_t (*inflater)(const std::string &), const std::string &file, uint64_t *bytes)
{
    auto start = std::chrono::steady_clock::now();
    *bytes = inflater(file);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: velorin-bench-inflate ROUNDS FILE.gz...\n");
        return 2;
    }
    int rounds = atoi(argv[1]);
    for (int i = 2; i < argc; i++) {
        std::ifstream stream(argv[i], std::ios::binary);
        std::string file((std::istreambuf_iterator<char>(stream)),
                         std::istreambuf_iterator<char>());
        bool blocks = file.size() >= BLOCK_HEADER_SIZE &&
                      ReadBlockSize(reinterpret_cast<const unsigned char *>(file.data())) != 0;
        auto *reference = blocks ? InflateBlocksWithLibdeflate : InflateWithZlib;
        auto *candidate = blocks ? InflateBlocksExactly : InflateWithOurs;
        const char *names[] = {blocks ? "libdeflate" : "zlib", "ours"};
        std::vector<double> zlib, ours;
        uint64_t zlibBytes = 0, ourBytes = 0;
        for (int round = 0; round < rounds; round++) {
            zlib.push_back(Seconds(reference, file, &zlibBytes));
            ours.push_back(Seconds(candidate, file, &ourBytes));
        }
        if (zlibBytes != ourBytes || ourBytes == 0) {
            fprintf(stderr, "%s: %s inflates %llu bytes, %s %llu\n", argv[i], names[0],
                    (unsigned long long)zlibBytes, names[1], (unsigned long long)ourBytes);
            return 1;
        }
        std::sort(zlib.begin(), zlib.end());
        std::sort(ours.begin(), ours.end());
        double zlibMedian = zlib[zlib.size() / 2], ourMedian = ours[ours.size() / 2];
        printf("%s: %.1f MB out; %s best %.3f s median %.3f s; %s best %.3f s median %.3f s; "
               "%s/%s %.3fx (medians)\n",
               argv[i], double(ourBytes) / 1e6, names[0], zlib[0], zlibMedian, names[1], ours[0],
               ourMedian, names[0], names[1], zlibMedian / ourMedian);
    }
    return 0;
}

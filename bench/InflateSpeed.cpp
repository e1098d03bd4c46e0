// Times the stream layer's inflater (GzipMember) against zlib's inflate on
// gzip files, each read whole into memory first and inflated in the stream
// layer's input pieces into a 256 KiB buffer, the two taking turns round
// after round. Prints each one's best and median time and their ratio.
// Usage: velorin-bench-inflate ROUNDS FILE.gz...

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <zlib.h>

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
        std::vector<double> zlib, ours;
        uint64_t zlibBytes = 0, ourBytes = 0;
        for (int round = 0; round < rounds; round++) {
            zlib.push_back(Seconds(InflateWithZlib, file, &zlibBytes));
            ours.push_back(Seconds(InflateWithOurs, file, &ourBytes));
        }
        if (zlibBytes != ourBytes || ourBytes == 0) {
            fprintf(stderr, "%s: zlib inflates %llu bytes, the stream layer %llu\n", argv[i],
                    (unsigned long long)zlibBytes, (unsigned long long)ourBytes);
            return 1;
        }
        std::sort(zlib.begin(), zlib.end());
        std::sort(ours.begin(), ours.end());
        double zlibMedian = zlib[zlib.size() / 2], ourMedian = ours[ours.size() / 2];
        printf("%s: %.1f MB out; zlib best %.3f s median %.3f s; ours best %.3f s median %.3f s; "
               "zlib/ours %.2fx (medians)\n",
               argv[i], double(ourBytes) / 1e6, zlib[0], zlibMedian, ours[0], ourMedian,
               zlibMedian / ourMedian);
    }
    return 0;
}

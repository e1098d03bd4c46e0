// velorin-bench-archive MIB ARCHIVE [-level 0-9]
// Writes an archive of MIB mebibytes of file data without a source tree:
// one directory, then files of up to 1 GiB each, filled with generated data
// that compresses about as well as program binaries do (around 3:1).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tools/ArchiveWriter.h"

namespace
{

/* Words drawn from a small vocabulary with a cheap generator: varied enough
   that deflate has real work, regular enough to compress. */
void FillBlock(std::vector<char> &block, uint64_t &state)
{
    static const char *const words[] = {"mov", "call", "ret", "push", "pop",  "add", "sub", "jmp",
                                        "cmp", "lea",  "xor", "and",  "test", "nop", "int", "shl"};
    size_t used = 0;
    while (used < block.size()) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const char *word = words[state >> 60];
        size_t length = std::strlen(word);
        for (size_t i = 0; i < length && used < block.size(); i++)
            block[used++] = word[i];
        if (used < block.size() && (state >> 56 & 3) == 0)
            block[used++] = char(state >> 32);
        else if (used < block.size())
            block[used++] = ' ';
    }
}

} // namespace

int main(int argc, char **argv)
{
    if ((argc != 3 && argc != 5) || (argc == 5 && std::strcmp(argv[3], "-level") != 0)) {
        std::fprintf(stderr, "Usage: velorin-bench-archive MIB ARCHIVE [-level 0-9]\n");
        return 2;
    }
    uint64_t total = std::strtoull(argv[1], nullptr, 10) << 20;
    int level = argc == 5 ? std::atoi(argv[4]) : 1;
    ArchiveWriter writer;
    ArchiveHeader header = EncodeArchiveHeader();
    if (!writer.Open(argv[2], level) || !writer.WriteBytes(&header, sizeof header) ||
        !writer.WriteEntryHeader("data", 0, ENTRY_DIRECTORY)) {
        std::fprintf(stderr, "velorin-bench-archive: %s\n", writer.Error().c_str());
        return 1;
    }
    std::vector<char> block(1 << 20);
    uint64_t state = 1;
    for (int index = 0; total > 0; index++) {
        uint64_t size = total < (1ULL << 30) ? total : (1ULL << 30);
        if (!writer.WriteEntryHeader("data/part" + std::to_string(index), uint32_t(size),
                                     ENTRY_FILE))
            break;
        for (uint64_t written = 0; written < size; written += block.size()) {
            FillBlock(block, state);
            if (!writer.WriteBytes(block.data(),
                                   size_t(std::min<uint64_t>(block.size(), size - written))))
                break;
        }
        total -= size;
    }
    if (!writer.Close()) {
        std::fprintf(stderr, "velorin-bench-archive: %s\n", writer.Error().c_str());
        return 1;
    }
    return 0;
}

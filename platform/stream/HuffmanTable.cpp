#include "HuffmanTable.h"

#include <cstdlib>

namespace huffman
{

namespace
{

constexpr unsigned MAX_LENGTH = 15;
constexpr unsigned MAX_SYMBOLS = 288;

unsigned Reverse(unsigned code, unsigned length)
{
    unsigned reversed = 0;
    for (unsigned i = 0; i < length; i++) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

void Fill(uint32_t *table, unsigned first, unsigned step, unsigned size, uint32_t entry)
{
    for (unsigned i = first; i < size; i += step)
        table[i] = entry;
}

} // namespace

bool BuildTable(uint32_t *table, Code code, const uint8_t *lengths, unsigned count,
                const uint32_t *symbolEntries)
{
    unsigned root = code == Code::LiteralLengths ? LITLEN_ROOT
                    : code == Code::Distances    ? DISTANCE_ROOT
                                                 : CODE_LENGTH_ROOT;
    unsigned capacity = code == Code::LiteralLengths ? LITLEN_TABLE_SIZE
                        : code == Code::Distances    ? DISTANCE_TABLE_SIZE
                                                     : CODE_LENGTH_TABLE_SIZE;
    unsigned rootSize = 1u << root;
    unsigned counts[MAX_LENGTH + 1] = {};
    for (unsigned symbol = 0; symbol < count; symbol++)
        counts[lengths[symbol]]++;
    unsigned longest = MAX_LENGTH;
    while (longest > 0 && counts[longest] == 0)
        longest--;
    if (longest == 0) {
        uint32_t empty = code == Code::CodeLengths ? (symbolEntries[0] | 1) : (INVALID | 1);
        Fill(table, 0, 1, rootSize, empty);
        return true;
    }
    int left = 1;
    for (unsigned length = 1; length <= MAX_LENGTH; length++) {
        left = left * 2 - int(counts[length]);
        if (left < 0)
            return false;
    }
    if (left > 0 && (code == Code::CodeLengths || longest != 1))
        return false;
    if (left > 0)
        Fill(table, 0, 1, rootSize, INVALID | 1);

    /* The symbols in canonical order (by length, then symbol) with their codes. */
    unsigned offsets[MAX_LENGTH + 2] = {};
    for (unsigned length = 1; length <= MAX_LENGTH; length++)
        offsets[length + 1] = offsets[length] + counts[length];
    unsigned sorted[MAX_SYMBOLS];
    for (unsigned symbol = 0; symbol < count; symbol++)
        if (lengths[symbol] != 0)
            sorted[offsets[lengths[symbol]]++] = symbol;
    unsigned total = offsets[MAX_LENGTH];
    unsigned codes[MAX_SYMBOLS];
    unsigned next = 0;
    for (unsigned i = 0, length = 1; i < total; i++) {
        unsigned symbolLength = lengths[sorted[i]];
        next <<= symbolLength - length;
        length = symbolLength;
        codes[i] = next++;
    }

    unsigned used = rootSize;
    unsigned groupEnd = 0, subBits = 0, subOffset = 0;
    for (unsigned i = 0; i < total; i++) {
        unsigned length = lengths[sorted[i]];
        unsigned reversed = Reverse(codes[i], length);
        uint32_t entry = symbolEntries[sorted[i]];
        if (length <= root) {
            Fill(table, reversed, 1u << length, rootSize, entry | length);
            continue;
        }
        /* Codes sharing their first root bits are adjacent in canonical
           order; the last of them is the longest and sizes the sub-table. */
        if (i >= groupEnd) {
            unsigned prefix = codes[i] >> (length - root);
            groupEnd = i + 1;
            while (groupEnd < total &&
                   codes[groupEnd] >> (lengths[sorted[groupEnd]] - root) == prefix)
                groupEnd++;
            subBits = lengths[sorted[groupEnd - 1]] - root;
            subOffset = used;
            used += 1u << subBits;
            if (used > capacity)
                abort();
            table[reversed & (rootSize - 1)] = SUBTABLE | root | subBits << 4 | subOffset << 16;
        }
        Fill(table + subOffset, reversed >> root, 1u << (length - root), 1u << subBits,
             entry | (length - root));
    }
    return true;
}

} // namespace huffman

#ifndef PLATFORM_STREAM_HUFFMAN_TABLE_H
#define PLATFORM_STREAM_HUFFMAN_TABLE_H

#include <cstdint>

/* Decoding tables for deflate's canonical Huffman codes. A table is indexed
   by the next rootBits bits of input (deflate sends codes from their most
   significant bit, so the bits arrive reversed); codes longer than rootBits
   continue in a sub-table that the root entry points to.

   An entry is one 32-bit word: bits 0-3 the bits it consumes (the code's
   length, or rootBits for a sub-table pointer; in a sub-table the length
   beyond rootBits), bits 4-7 the extra bits that follow the code (or the
   sub-table's index bits), one flag of bits 8-11, and bits 16-31 the value
   (a literal byte, a length or distance base, a sub-table's offset). */
namespace huffman
{

constexpr uint32_t LITERAL = 1u << 8;
constexpr uint32_t SUBTABLE = 1u << 9;
constexpr uint32_t END_OF_BLOCK = 1u << 10;
constexpr uint32_t INVALID = 1u << 11;

constexpr unsigned LITLEN_ROOT = 10;
constexpr unsigned DISTANCE_ROOT = 8;
constexpr unsigned CODE_LENGTH_ROOT = 7;

/* A sub-table of s index bits holds 2^s entries and, the code being
   complete, at least s + 1 codes; with at most 288 and 32 codes and
   15-bit codes this bounds the sub-tables at 1536 and 512 entries. */
constexpr unsigned LITLEN_TABLE_SIZE = (1u << LITLEN_ROOT) + 1536;
constexpr unsigned DISTANCE_TABLE_SIZE = (1u << DISTANCE_ROOT) + 512;
constexpr unsigned CODE_LENGTH_TABLE_SIZE = 1u << CODE_LENGTH_ROOT;

inline uint32_t ConsumedBits(uint32_t entry)
{
    return entry & 15;
}
inline uint32_t ExtraBits(uint32_t entry)
{
    return (entry >> 4) & 15;
}
inline uint32_t Value(uint32_t entry)
{
    return entry >> 16;
}

enum class Code { CodeLengths, LiteralLengths, Distances };

/* Fills table for the code that lengths (count symbols, 0 for an unused
   one) describe; symbolEntries gives each symbol's flag, extra bits and
   value. False for a set of lengths that is refused: one that
   over-subscribes, or leaves codes unused, except that a literal/length or
   distance code may be a single code of one bit, and a distance code may
   be empty (the unused codes then decode as INVALID entries of one bit).
   A code length code of no lengths at all decodes every bit as length 0. */
bool BuildTable(uint32_t *table, Code code, const uint8_t *lengths, unsigned count,
                const uint32_t *symbolEntries);

} // namespace huffman

#endif

#include <cstring>

#include "Inflater.h"
#include "InflaterBuffer.h"

using namespace huffman;

namespace
{

uint64_t Load64(const unsigned char *from)
{
    uint64_t word;
    memcpy(&word, from, 8);
    return word;
}

void Store64(unsigned char *to, uint64_t word)
{
    memcpy(to, &word, 8);
}

/* Copies a match of length bytes from distance back, writing up to 15
   bytes past its end. */
void CopyMatch(unsigned char *out, unsigned distance, unsigned length)
{
    const unsigned char *from = out - distance;
    unsigned char *end = out + length;
    if (distance >= 16) {
        do {
            memcpy(out, from, 16);
            out += 16;
            from += 16;
        } while (out < end);
    } else if (distance >= 8) {
        do {
            Store64(out, Load64(from));
            out += 8;
            from += 8;
        } while (out < end);
    } else if (distance == 1) {
        uint64_t word = from[0] * 0x0101010101010101ull;
        do {
            Store64(out, word);
            out += 8;
        } while (out < end);
    } else {
        while (out < end)
            *out++ = *from++;
    }
}

} // namespace

/* Loads whole bytes into the bit buffer up to at least 56 bits: the bytes
   loaded beyond the count are the input's next bits, which the next load
   writes again at the same place. */
#define REFILL()                                                                                   \
    do {                                                                                           \
        bits |= Load64(in) << count;                                                               \
        in += (63 - count) >> 3;                                                                   \
        count |= 56;                                                                               \
    } while (0)

#define CONSUME(n)                                                                                 \
    do {                                                                                           \
        bits >>= (n);                                                                              \
        count -= (n);                                                                              \
    } while (0)

void Inflater::DecodeFast()
{
    const unsigned char *in = in_;
    const unsigned char *inLimit = inEnd_ - INFLATER_FAST_INPUT;
    unsigned char *out = write_;
    unsigned char *outLimit = limit_ - INFLATER_FAST_OUTPUT;
    const uint32_t *litlen = litlen_;
    const uint32_t *distances = distances_;
    uint64_t bits = bitBuffer_;
    unsigned count = bitCount_;
    constexpr uint64_t litlenMask = (1u << LITLEN_ROOT) - 1,
                       distanceMask = (1u << DISTANCE_ROOT) - 1;

    while (in <= inLimit && out <= outLimit) {
        /* 56 bits hold the longest length and distance with their extra bits. */
        REFILL();
        uint32_t entry = litlen[bits & litlenMask];
        if (entry & LITERAL) {
            /* Up to three literals of the root table, 30 bits at most. */
            CONSUME(ConsumedBits(entry));
            *out++ = uint8_t(Value(entry));
            entry = litlen[bits & litlenMask];
            if (entry & LITERAL) {
                CONSUME(ConsumedBits(entry));
                *out++ = uint8_t(Value(entry));
                entry = litlen[bits & litlenMask];
                if (entry & LITERAL) {
                    CONSUME(ConsumedBits(entry));
                    *out++ = uint8_t(Value(entry));
                    continue;
                }
            }
            REFILL();
        }
        if (entry & SUBTABLE) {
            CONSUME(LITLEN_ROOT);
            entry = litlen[Value(entry) + (bits & ((1u << ExtraBits(entry)) - 1))];
        }
        CONSUME(ConsumedBits(entry));
        if (entry & LITERAL) {
            *out++ = uint8_t(Value(entry));
            continue;
        }
        if (entry & (END_OF_BLOCK | INVALID)) {
            if (entry & END_OF_BLOCK)
                EndBlock();
            else
                Fail("invalid literal/length code");
            break;
        }
        unsigned extra = ExtraBits(entry);
        unsigned length = Value(entry) + unsigned(bits & ((1u << extra) - 1));
        CONSUME(extra);
        entry = distances[bits & distanceMask];
        if (entry & SUBTABLE) {
            CONSUME(DISTANCE_ROOT);
            entry = distances[Value(entry) + (bits & ((1u << ExtraBits(entry)) - 1))];
        }
        CONSUME(ConsumedBits(entry));
        if (entry & INVALID) {
            Fail("invalid distance code");
            break;
        }
        extra = ExtraBits(entry);
        unsigned distance = Value(entry) + unsigned(bits & ((1u << extra) - 1));
        CONSUME(extra);
        if (distance > size_t(out - streamStart_)) {
            Fail("invalid distance too far back");
            break;
        }
        CopyMatch(out, distance, length);
        out += length;
    }
    /* Whole bytes not consumed go back to the input. */
    in -= count >> 3;
    count &= 7;
    bitBuffer_ = bits & ((uint64_t(1) << count) - 1);
    bitCount_ = count;
    in_ = in;
    write_ = out;
}

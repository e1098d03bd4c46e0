#include "Inflater.h"

#include <cstring>

#include "InflaterBuffer.h"

using namespace huffman;

namespace
{

/* Each symbol's table entry: its flag, extra bits and value. Constant, so
   that it is there before any constructor that runs ahead of main. */
struct SymbolEntries {
    uint32_t litlen[288] = {};
    uint32_t distances[32] = {};
    uint32_t codeLengths[19] = {};

    constexpr SymbolEntries()
    {
        for (uint32_t byte = 0; byte < 256; byte++)
            litlen[byte] = LITERAL | byte << 16;
        litlen[256] = END_OF_BLOCK;
        uint32_t base = 3;
        for (uint32_t symbol = 257; symbol < 285; symbol++) {
            uint32_t extra = symbol < 265 ? 0 : (symbol - 261) / 4;
            litlen[symbol] = extra << 4 | base << 16;
            base += 1u << extra;
        }
        litlen[285] = 258u << 16;
        litlen[286] = litlen[287] = INVALID;
        base = 1;
        for (uint32_t symbol = 0; symbol < 30; symbol++) {
            uint32_t extra = symbol < 4 ? 0 : symbol / 2 - 1;
            distances[symbol] = extra << 4 | base << 16;
            base += 1u << extra;
        }
        distances[30] = distances[31] = INVALID;
        for (uint32_t symbol = 0; symbol < 19; symbol++)
            codeLengths[symbol] = symbol << 16;
    }
};

constexpr SymbolEntries symbolEntries;

const uint8_t codeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

} // namespace

Inflater::Inflater()
    : buffer_(new unsigned char[INFLATER_BUFFER_SIZE]),
      limit_(buffer_.get() + INFLATER_HISTORY + INFLATER_SPACE), write_(buffer_.get()),
      taken_(write_), streamStart_(write_)
{
}

void Inflater::Reset()
{
    taken_ = write_;
    streamStart_ = write_;
    bitBuffer_ = 0;
    bitCount_ = 0;
    state_ = State::BlockHeader;
    last_ = false;
    error_ = "";
}

Inflater::Status Inflater::Run(const unsigned char *&next, unsigned &available)
{
    MakeRoom();
    in_ = next;
    inEnd_ = next + available;
    Status status = Decode();
    next = in_;
    available = unsigned(inEnd_ - in_);
    return status;
}

/* Moves the history to the buffer's start once the room left is small and
   everything is taken. */
void Inflater::MakeRoom()
{
    unsigned char *start = buffer_.get();
    if (taken_ != write_ || size_t(limit_ - write_) >= INFLATER_SPACE / 2)
        return;
    size_t keep =
        size_t(write_ - start) < INFLATER_HISTORY ? size_t(write_ - start) : INFLATER_HISTORY;
    size_t shift = size_t(write_ - start) - keep;
    memmove(start, write_ - keep, keep);
    streamStart_ = size_t(streamStart_ - start) > shift ? streamStart_ - shift : start;
    write_ = taken_ = start + keep;
}

Inflater::Status Inflater::Fail(const char *message)
{
    state_ = State::Bad;
    error_ = message;
    return Status::Failed;
}

bool Inflater::Need(unsigned bits)
{
    while (bitCount_ < bits) {
        if (in_ == inEnd_)
            return false;
        bitBuffer_ |= uint64_t(*in_++) << bitCount_;
        bitCount_ += 8;
    }
    return true;
}

uint32_t Inflater::Bits(unsigned count)
{
    uint32_t value = uint32_t(bitBuffer_ & ((uint64_t(1) << count) - 1));
    bitBuffer_ >>= count;
    bitCount_ -= count;
    return value;
}

bool Inflater::Peek(const uint32_t *table, unsigned root, uint32_t &entry, unsigned &bits)
{
    for (;;) {
        entry = table[bitBuffer_ & ((1u << root) - 1)];
        bits = ConsumedBits(entry);
        if (entry & SUBTABLE) {
            if (bitCount_ >= root) {
                entry =
                    table[Value(entry) + ((bitBuffer_ >> root) & ((1u << ExtraBits(entry)) - 1))];
                bits = root + ConsumedBits(entry);
            } else {
                bits = root + 1;
            }
        }
        if (bits <= bitCount_)
            return true;
        if (in_ == inEnd_)
            return false;
        bitBuffer_ |= uint64_t(*in_++) << bitCount_;
        bitCount_ += 8;
    }
}

void Inflater::UseFixedTables()
{
    if (fixedTables_)
        return;
    memset(lengths_, 8, 144);
    memset(lengths_ + 144, 9, 112);
    memset(lengths_ + 256, 7, 24);
    memset(lengths_ + 280, 8, 8);
    memset(lengths_ + 288, 5, 32);
    BuildTable(litlen_, Code::LiteralLengths, lengths_, 288, symbolEntries.litlen);
    BuildTable(distances_, Code::Distances, lengths_ + 288, 32, symbolEntries.distances);
    fixedTables_ = true;
}

/* The code lengths of both codes, each run-length coded with the code
   length code: false when the input runs out first, or on a repeat that
   has nothing to repeat or runs past the last length. */
bool Inflater::ReadLengths()
{
    unsigned total = lengthCount_ + distanceCount_;
    while (have_ < total) {
        uint32_t entry;
        unsigned bits;
        if (!Peek(codeLengths_, CODE_LENGTH_ROOT, entry, bits))
            return false;
        unsigned symbol = Value(entry);
        if (symbol < 16) {
            Bits(bits);
            lengths_[have_++] = uint8_t(symbol);
            continue;
        }
        unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        if (!Need(bits + extra))
            return false;
        Bits(bits);
        if (symbol == 16 && have_ == 0) {
            Fail("invalid bit length repeat");
            return false;
        }
        uint8_t length = symbol == 16 ? lengths_[have_ - 1] : 0;
        unsigned repeat = (symbol == 18 ? 11 : 3) + Bits(extra);
        if (have_ + repeat > total) {
            Fail("invalid bit length repeat");
            return false;
        }
        memset(lengths_ + have_, length, repeat);
        have_ += repeat;
    }
    return true;
}

bool Inflater::BuildDynamicTables()
{
    fixedTables_ = false;
    const char *fault = nullptr;
    if (lengths_[256] == 0)
        fault = "invalid code -- missing end-of-block";
    else if (!BuildTable(litlen_, Code::LiteralLengths, lengths_, lengthCount_,
                         symbolEntries.litlen))
        fault = "invalid literal/lengths set";
    else if (!BuildTable(distances_, Code::Distances, lengths_ + lengthCount_, distanceCount_,
                         symbolEntries.distances))
        fault = "invalid distances set";
    if (fault != nullptr) {
        Fail(fault);
        return false;
    }
    state_ = State::Codes;
    return true;
}

Inflater::Status Inflater::Decode()
{
    for (;;) {
        switch (state_) {
        case State::BlockHeader:
            if (!Need(3))
                return Status::NeedInput;
            last_ = Bits(1) != 0;
            switch (Bits(2)) {
            case 0:
                Bits(bitCount_ & 7);
                state_ = State::StoredLengths;
                break;
            case 1:
                UseFixedTables();
                state_ = State::Codes;
                break;
            case 2:
                state_ = State::TableSizes;
                break;
            default:
                return Fail("invalid block type");
            }
            break;
        case State::StoredLengths: {
            if (!Need(32))
                return Status::NeedInput;
            uint32_t lengths = Bits(32);
            if ((lengths & 0xffff) != ((lengths >> 16) ^ 0xffff))
                return Fail("invalid stored block lengths");
            length_ = lengths & 0xffff;
            state_ = State::Stored;
            break;
        }
        case State::Stored: {
            if (length_ == 0) {
                EndBlock();
                break;
            }
            if (in_ == inEnd_)
                return Status::NeedInput;
            if (write_ == limit_)
                return Status::OutputFull;
            size_t piece = length_;
            if (piece > size_t(inEnd_ - in_))
                piece = size_t(inEnd_ - in_);
            if (piece > size_t(limit_ - write_))
                piece = size_t(limit_ - write_);
            memcpy(write_, in_, piece);
            write_ += piece;
            in_ += piece;
            length_ -= unsigned(piece);
            break;
        }
        case State::TableSizes:
            if (!Need(14))
                return Status::NeedInput;
            lengthCount_ = Bits(5) + 257;
            distanceCount_ = Bits(5) + 1;
            codeLengthCount_ = Bits(4) + 4;
            if (lengthCount_ > 286 || distanceCount_ > 30)
                return Fail("too many length or distance symbols");
            have_ = 0;
            state_ = State::CodeLengthLengths;
            break;
        case State::CodeLengthLengths:
            while (have_ < codeLengthCount_) {
                if (!Need(3))
                    return Status::NeedInput;
                lengths_[codeLengthOrder[have_++]] = uint8_t(Bits(3));
            }
            while (have_ < 19)
                lengths_[codeLengthOrder[have_++]] = 0;
            if (!BuildTable(codeLengths_, Code::CodeLengths, lengths_, 19,
                            symbolEntries.codeLengths))
                return Fail("invalid code lengths set");
            have_ = 0;
            state_ = State::Lengths;
            break;
        case State::Lengths:
            if (!ReadLengths())
                return state_ == State::Bad ? Status::Failed : Status::NeedInput;
            if (!BuildDynamicTables())
                return Status::Failed;
            break;
        case State::Codes: {
            if (inEnd_ - in_ >= INFLATER_FAST_INPUT && limit_ - write_ >= INFLATER_FAST_OUTPUT) {
                DecodeFast();
                break;
            }
            if (write_ == limit_)
                return Status::OutputFull;
            uint32_t entry;
            unsigned bits;
            if (!Peek(litlen_, LITLEN_ROOT, entry, bits))
                return Status::NeedInput;
            Bits(bits);
            if (entry & LITERAL) {
                *write_++ = uint8_t(Value(entry));
            } else if (entry & END_OF_BLOCK) {
                EndBlock();
            } else if (entry & INVALID) {
                return Fail("invalid literal/length code");
            } else {
                length_ = Value(entry);
                extra_ = ExtraBits(entry);
                state_ = State::LengthExtra;
            }
            break;
        }
        case State::LengthExtra:
            if (!Need(extra_))
                return Status::NeedInput;
            length_ += Bits(extra_);
            state_ = State::Distance;
            break;
        case State::Distance: {
            uint32_t entry;
            unsigned bits;
            if (!Peek(distances_, DISTANCE_ROOT, entry, bits))
                return Status::NeedInput;
            Bits(bits);
            if (entry & INVALID)
                return Fail("invalid distance code");
            distance_ = Value(entry);
            extra_ = ExtraBits(entry);
            state_ = State::DistanceExtra;
            break;
        }
        case State::DistanceExtra:
            if (!Need(extra_))
                return Status::NeedInput;
            distance_ += Bits(extra_);
            if (distance_ > size_t(write_ - streamStart_))
                return Fail("invalid distance too far back");
            state_ = State::Match;
            break;
        case State::Match: {
            if (write_ == limit_)
                return Status::OutputFull;
            const unsigned char *from = write_ - distance_;
            unsigned piece =
                length_ < size_t(limit_ - write_) ? length_ : unsigned(limit_ - write_);
            for (unsigned i = 0; i < piece; i++)
                write_[i] = from[i];
            write_ += piece;
            length_ -= piece;
            if (length_ == 0)
                state_ = State::Codes;
            break;
        }
        case State::Done:
            bitBuffer_ = 0;
            bitCount_ = 0;
            return Status::End;
        case State::Bad:
            return Status::Failed;
        }
    }
}

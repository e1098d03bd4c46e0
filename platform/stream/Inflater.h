#ifndef PLATFORM_STREAM_INFLATER_H
#define PLATFORM_STREAM_INFLATER_H

#include <cstdint>
#include <memory>

#include "HuffmanTable.h"

/* Inflates a raw deflate stream in fixed memory: the input comes in pieces
   of any size, and the output goes into a buffer of the inflater's own that
   keeps the last 32 KiB as the history that matches copy from. It refuses
   exactly the streams that zlib's inflate refuses, with zlib's messages,
   and finds each fault at the same bit: everything decoded before it is
   output first, and a stream that breaks off is decoded as far as its bits
   go. */
class Inflater
{
  public:
    enum class Status { OutputFull, NeedInput, End, Failed };

    Inflater();
    /* Begins a new stream, with no history; what is pending is dropped. */
    void Reset();
    /* Inflates from next on: NeedInput once all available input is taken,
       OutputFull when the buffer is full, End after the last block (the
       unused bits of its last byte are dropped), Failed on damage. */
    Status Run(const unsigned char *&next, unsigned &available);

    /* The bytes inflated and not yet taken. */
    const unsigned char *Pending() const { return taken_; }
    unsigned PendingCount() const { return unsigned(write_ - taken_); }
    void Take(unsigned count) { taken_ += count; }
    const char *Error() const { return error_; }

  private:
    enum class State {
        BlockHeader,
        StoredLengths,
        Stored,
        TableSizes,
        CodeLengthLengths,
        Lengths,
        Codes,
        LengthExtra,
        Distance,
        DistanceExtra,
        Match,
        Done,
        Bad
    };

    Status Decode();
    /* The fast loop, run while the input and the output room allow any
       symbol: it leaves Codes on a block's end or a fault. */
    void DecodeFast();
    bool Need(unsigned bits);
    uint32_t Bits(unsigned count);
    /* The entry of the next code, once all of its bits are there. */
    bool Peek(const uint32_t *table, unsigned root, uint32_t &entry, unsigned &bits);
    void EndBlock() { state_ = last_ ? State::Done : State::BlockHeader; }
    Status Fail(const char *message);
    bool ReadLengths();
    bool BuildDynamicTables();
    void UseFixedTables();
    void MakeRoom();

    std::unique_ptr<unsigned char[]> buffer_;
    unsigned char *limit_;       /* where the output must stop */
    unsigned char *write_;       /* the next byte of output */
    unsigned char *taken_;       /* the first byte not yet taken */
    unsigned char *streamStart_; /* the stream's first byte, or the buffer's start */
    const unsigned char *in_ = nullptr;
    const unsigned char *inEnd_ = nullptr;
    uint64_t bitBuffer_ = 0; /* bitCount_ bits of input, the next one lowest */
    unsigned bitCount_ = 0;
    State state_ = State::BlockHeader;
    bool last_ = false;
    bool fixedTables_ = false; /* the tables hold the fixed codes */
    unsigned lengthCount_ = 0, distanceCount_ = 0, codeLengthCount_ = 0, have_ = 0;
    unsigned length_ = 0, distance_ = 0, extra_ = 0;
    const char *error_ = "";
    uint8_t lengths_[320];
    uint32_t litlen_[huffman::LITLEN_TABLE_SIZE];
    uint32_t distances_[huffman::DISTANCE_TABLE_SIZE];
    uint32_t codeLengths_[huffman::CODE_LENGTH_TABLE_SIZE];
};

#endif

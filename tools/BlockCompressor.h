#ifndef TOOLS_BLOCK_COMPRESSOR_H
#define TOOLS_BLOCK_COMPRESSOR_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct libdeflate_compressor;

/* Compresses an archive stream cut into blocks, each block into one gzip
   member of the block format (format/BlockLayout.h), on worker threads, and hands
   the members back in the order the blocks came. Each member depends only on
   its block and the level, so the output is the same whatever the number of
   threads. Memory stays bounded: at most two blocks per thread are held, and
   the caller takes finished members out before it may fill another. */
class BlockCompressor
{
  public:
    /* deflateLevel: libdeflate's level, 0 (stored) to 12. threads: 1
       compresses on the caller's thread, at Submit. */
    BlockCompressor(int deflateLevel, unsigned threads);
    BlockCompressor(const BlockCompressor &) = delete;
    BlockCompressor &operator=(const BlockCompressor &) = delete;
    /* Waits for the blocks being compressed; what was not taken is dropped. */
    ~BlockCompressor();

    /* False when the compressors could not be allocated. */
    bool Ready() const { return ready_; }
    /* The block being filled, to append at most BLOCK_INPUT_LIMIT bytes to.
       Only while not Full(). */
    std::vector<unsigned char> &Input();
    /* Queues the block being filled for compression. */
    void Submit();
    /* No block can be filled until the oldest member is taken. */
    bool Full() const { return submitted_ - released_ == slots_.size(); }
    /* Blocks submitted whose members have not been taken. */
    bool Pending() const { return submitted_ > released_; }
    /* The oldest pending block's member, once it is compressed. Only while
       Pending(); valid until TakeOldest. */
    const std::vector<unsigned char> &WaitOldest();
    /* Gives the oldest member's room back. */
    void TakeOldest();

  private:
    struct Slot {
        std::vector<unsigned char> input;
        std::vector<unsigned char> member;
        bool done = false;
    };

    void RunWorker(libdeflate_compressor *compressor);

    int level_;
    bool ready_ = false;
    std::vector<libdeflate_compressor *> compressors_;
    std::vector<Slot> slots_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    /* Counts of blocks: handed over, taken up by a worker, given back. */
    uint64_t submitted_ = 0;
    uint64_t claimed_ = 0;
    uint64_t released_ = 0;
    bool stopping_ = false;
};

/* Encodes one block as a gzip member carrying its own size: the header with
   the size subfield, the deflate data, CRC-32 and length. */
void EncodeMember(libdeflate_compressor *compressor, int deflateLevel, const unsigned char *data,
                  size_t length, std::vector<unsigned char> &member);

#endif

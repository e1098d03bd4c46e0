#include "BlockCompressor.h"

#include <libdeflate.h>

#include "../format/BlockLayout.h"
#include "../format/ByteOrder.h"

namespace
{

/* gzip's XFL: 2 for the slowest, smallest compression, 4 for the fastest. */
unsigned char ExtraFlags(int deflateLevel)
{
    if (deflateLevel >= 10)
        return 2;
    return deflateLevel <= 1 ? 4 : 0;
}

} // namespace

void EncodeMember(libdeflate_compressor *compressor, int deflateLevel, const unsigned char *data,
                  size_t length, std::vector<unsigned char> &member)
{
    const size_t trailer = 8;
    member.resize(BLOCK_HEADER_SIZE + libdeflate_deflate_compress_bound(compressor, length) +
                  trailer);
    unsigned char *header = member.data();
    /* Magic, deflate, FEXTRA; no time stamp, so that the same tree gives the
       same archive; OS 3 (Unix). */
    const unsigned char fixed[10] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, ExtraFlags(deflateLevel), 3};
    std::copy(fixed, fixed + sizeof fixed, header);
    header[10] = BLOCK_EXTRA_LENGTH;
    header[11] = 0;
    header[12] = BLOCK_SUBFIELD_ID1;
    header[13] = BLOCK_SUBFIELD_ID2;
    header[14] = BLOCK_SUBFIELD_LENGTH;
    header[15] = 0;
    size_t packed =
        libdeflate_deflate_compress(compressor, data, length, member.data() + BLOCK_HEADER_SIZE,
                                    member.size() - BLOCK_HEADER_SIZE - trailer);
    /* The buffer holds the library's worst case, so this does not happen; an
       empty member tells the caller if it ever does. */
    if (packed == 0) {
        member.clear();
        return;
    }
    size_t total = BLOCK_HEADER_SIZE + packed + trailer;
    member.resize(total);
    WriteLittleEndian32(member.data() + 16, static_cast<uint32_t>(total));
    unsigned char *end = member.data() + BLOCK_HEADER_SIZE + packed;
    WriteLittleEndian32(end, libdeflate_crc32(0, data, length));
    WriteLittleEndian32(end + 4, static_cast<uint32_t>(length));
}

BlockCompressor::BlockCompressor(int deflateLevel, unsigned threads) : level_(deflateLevel)
{
    if (threads == 0)
        threads = 1;
    for (unsigned i = 0; i < threads; i++) {
        libdeflate_compressor *compressor = libdeflate_alloc_compressor(deflateLevel);
        if (compressor == nullptr)
            return;
        compressors_.push_back(compressor);
    }
    /* One block being filled and one compressed on the caller's thread; or
       two per worker, so that the workers go on while the oldest member is
       written. */
    slots_.resize(threads == 1 ? 1 : 2 * threads);
    if (threads > 1) {
        for (libdeflate_compressor *compressor : compressors_)
            workers_.emplace_back(&BlockCompressor::RunWorker, this, compressor);
    }
    ready_ = true;
}

BlockCompressor::~BlockCompressor()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (std::thread &worker : workers_)
        worker.join();
    for (libdeflate_compressor *compressor : compressors_)
        libdeflate_free_compressor(compressor);
}

std::vector<unsigned char> &BlockCompressor::Input()
{
    return slots_[submitted_ % slots_.size()].input;
}

void BlockCompressor::Submit()
{
    Slot &slot = slots_[submitted_ % slots_.size()];
    if (workers_.empty()) {
        EncodeMember(compressors_.front(), level_, slot.input.data(), slot.input.size(),
                     slot.member);
        slot.done = true;
        submitted_++;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        submitted_++;
    }
    queued_.notify_one();
}

const std::vector<unsigned char> &BlockCompressor::WaitOldest()
{
    Slot &slot = slots_[released_ % slots_.size()];
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return slot.done; });
    return slot.member;
}

void BlockCompressor::TakeOldest()
{
    Slot &slot = slots_[released_ % slots_.size()];
    std::lock_guard<std::mutex> lock(mutex_);
    slot.done = false;
    slot.input.clear();
    released_++;
}

void BlockCompressor::RunWorker(libdeflate_compressor *compressor)
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [&] { return stopping_ || claimed_ < submitted_; });
        if (claimed_ == submitted_)
            return;
        Slot &slot = slots_[claimed_++ % slots_.size()];
        lock.unlock();
        EncodeMember(compressor, level_, slot.input.data(), slot.input.size(), slot.member);
        lock.lock();
        slot.done = true;
        finished_.notify_all();
    }
}

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <libdeflate.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include "AcceptedMembers.h"
#include "BlockMember.h"
#include "GzipMember.h"
#include "GzipReader.h"
#include "HostStream.h"
#include "ReadFully.h"

/* Inflates the archive ahead of the caller's reads, on threads of the
   platform's own, into a ring of slots that the caller empties in order.

   While the region holds members of the block format, each thread takes the
   next member (whose size its header gives, so that the next can be found
   without inflating) and inflates it whole into a slot, with an inflater of
   the streaming reader's kind (GzipMember). The size is only a hint: a
   member that does not end where its hint says, is damaged, inflates to
   more than a block holds, or is not a block at all, is left to the
   streaming reader (GzipReader), which reads everything from that member
   on, one slot at a time, on one thread at a time. The caller meets that
   member's slot after every earlier one, so it is the first member that
   fails which hands over, and blocks taken ahead on a wrong hint are
   dropped. What the caller reads is therefore exactly what the streaming
   reader alone delivers, its faults included, at the same places (and that
   is what zlib's inflate delivers), whatever codes a block uses.

   An archive is read twice. The first reading records each block that its
   inflater took; a later reading of the same unchanged archive gives a
   block whose place, size and bytes' CRC-32 match a recorded one to
   libdeflate, which is faster and makes the same bytes of data that the
   exact inflater took, and any other block to the exact inflater. */

namespace
{

/* How much of what the streaming reader inflates one slot takes: the
   caller waits for the first slot, so it is kept small. */
constexpr unsigned READER_PIECE = 262144;

unsigned CountCores()
{
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) != 0)
        return 1;
    int count = CPU_COUNT(&cores);
    return count > 0 ? unsigned(count) : 1;
}

class ReadAhead final : public HostStream
{
  public:
    ReadAhead(const ArchiveRegion &region, unsigned workers, unsigned inputSize);
    ~ReadAhead() override;
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    int Read(void *buffer, unsigned length) override;
    const char *DescribeError(int *code) override;
    int SystemError() override { return end_.systemError; }
    /* Set by the caller's own reads only, when a block that failed whole
       hands the stream to the streaming reader. */
    const char *KnownDamage() const override { return knownDamage_; }

  private:
    enum class State { Free, Busy, Ready };
    enum class Kind { Bytes, ToReader };
    /* How the stream ends after a slot's bytes: Z_OK for its end. */
    struct Ending {
        int code = Z_OK;
        const char *text = "";
        int systemError = 0;
    };
    struct Slot {
        std::unique_ptr<unsigned char[]> bytes;
        unsigned length = 0;
        unsigned taken = 0;
        State state = State::Free;
        uint64_t epoch = 0;
        Kind kind = Kind::Bytes;
        uint64_t offset = 0;          /* ToReader: the member the reader reads from */
        const char *damage = nullptr; /* ToReader: why that member is damaged, if it is */
        bool last = false;            /* the stream ends after the bytes, as ending says */
        Ending ending;
    };
    struct Worker {
        std::unique_ptr<unsigned char[]> input;
        libdeflate_decompressor *decompressor = nullptr;
        /* A reading whose blocks all go to libdeflate never touches its buffer. */
        std::unique_ptr<GzipMember> inflater;
        std::thread thread;
    };
    struct Job {
        bool streamed = false;
        Slot *slot = nullptr;
        uint64_t offset = 0;
        uint32_t size = 0;
        unsigned char header[BLOCK_HEADER_SIZE];
    };
    enum class Claim { None, Marker, Job };

    void Work(Worker &worker);
    Claim TryClaim(Job &job);
    Claim ClaimBlock(Job &job, Slot &slot);
    void Run(Job &job, Worker &worker);
    void Finish(Job &job);
    void HandOverToReader(uint64_t offset);

    ArchiveRegion region_;
    MemberRecord record_;
    unsigned inputSize_;
    std::mutex mutex_;
    std::condition_variable work_;  /* a slot was freed or a job finished */
    std::condition_variable ready_; /* a slot became ready */
    std::vector<Slot> slots_;
    std::vector<Worker> workers_;
    unsigned threads_ = 0;
    bool stopping_ = false;
    uint64_t claimed_ = 0;  /* the sequence number of the next slot taken */
    uint64_t consumed_ = 0; /* that of the slot the caller reads */
    uint64_t epoch_ = 0;    /* raised when the streaming reader takes over */
    uint64_t offset_ = 0;   /* where the next block begins */
    bool blocksEnded_ = false;
    std::unique_ptr<GzipReader> reader_;
    const char *knownDamage_ = nullptr;
    bool readerBusy_ = false;
    bool readerEnded_ = false;
    bool finished_ = false; /* the caller has reached the stream's end */
    Slot *held_ = nullptr;  /* the ready slot the caller reads, with bytes left */
    Ending end_;
};

/* One slot for each thread to fill and one for the caller to empty: memory
   stays at a block's input and output and an inflater's history and buffer
   per thread, and one output more. */
ReadAhead::ReadAhead(const ArchiveRegion &region, unsigned workers, unsigned inputSize)
    : region_(region), record_(BeginReading(region.archive)), inputSize_(inputSize),
      slots_(std::max(workers, 1u) + 1), workers_(std::max(workers, 1u))
{
    /* Buffers are not cleared: only what is written to becomes resident. */
    for (Slot &slot : slots_)
        slot.bytes.reset(new unsigned char[std::max(BLOCK_INPUT_LIMIT, READER_PIECE)]);
    for (Worker &worker : workers_) {
        worker.input.reset(new unsigned char[BLOCK_MEMBER_LIMIT]);
        worker.decompressor = libdeflate_alloc_decompressor();
        worker.inflater = std::make_unique<GzipMember>();
    }
    if (workers == 0)
        return;
    /* Signals stay with the caller's thread, which may take them through a
       descriptor of its own and would otherwise lose them to a worker. */
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    for (Worker &worker : workers_) {
        try {
            worker.thread = std::thread(&ReadAhead::Work, this, std::ref(worker));
        } catch (const std::system_error &) {
            /* Fewer threads read as well; with none, the caller's reads do. */
            break;
        }
        threads_++;
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (Worker &worker : workers_) {
        if (worker.thread.joinable())
            worker.thread.join();
        libdeflate_free_decompressor(worker.decompressor);
    }
    reader_.reset();
    close(region_.descriptor);
}

void ReadAhead::Work(Worker &worker)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        Job job;
        Claim claim = TryClaim(job);
        if (claim == Claim::Job) {
            lock.unlock();
            Run(job, worker);
            lock.lock();
            Finish(job);
        } else if (claim == Claim::None) {
            work_.wait(lock);
        }
    }
}

/* Takes the next slot in order for a job, or fills it at once with a
   marker: the stream's end, or the streaming reader's turn. */
ReadAhead::Claim ReadAhead::TryClaim(Job &job)
{
    if (claimed_ - consumed_ >= slots_.size())
        return Claim::None;
    Slot &slot = slots_[claimed_ % slots_.size()];
    if (slot.state != State::Free)
        return Claim::None;
    if (reader_ != nullptr ? readerBusy_ || readerEnded_ : blocksEnded_)
        return Claim::None;
    slot.length = 0;
    slot.taken = 0;
    slot.kind = Kind::Bytes;
    slot.damage = nullptr;
    slot.last = false;
    slot.ending = Ending();
    slot.epoch = epoch_;
    claimed_++;
    if (reader_ != nullptr) {
        readerBusy_ = true;
        job.streamed = true;
        job.slot = &slot;
        slot.state = State::Busy;
        return Claim::Job;
    }
    return ClaimBlock(job, slot);
}

ReadAhead::Claim ReadAhead::ClaimBlock(Job &job, Slot &slot)
{
    uint64_t left = region_.length - offset_;
    uint32_t size = 0;
    if (left == 0) {
        slot.last = true;
    } else if (left >= BLOCK_HEADER_SIZE &&
               ReadFully(region_.descriptor, region_.start + offset_, job.header,
                         BLOCK_HEADER_SIZE) == long(BLOCK_HEADER_SIZE)) {
        size = ReadBlockSize(job.header);
    }
    if (size != 0 && size <= left) {
        job.slot = &slot;
        job.offset = offset_;
        job.size = size;
        offset_ += size;
        slot.state = State::Busy;
        return Claim::Job;
    }
    /* The end, or no block here: nothing after it is taken as a block. */
    if (!slot.last) {
        slot.kind = Kind::ToReader;
        slot.offset = offset_;
    }
    blocksEnded_ = true;
    slot.state = State::Ready;
    ready_.notify_one();
    return Claim::Marker;
}

void ReadAhead::Run(Job &job, Worker &worker)
{
    Slot &slot = *job.slot;
    if (job.streamed) {
        int count = reader_->Read(slot.bytes.get(), READER_PIECE);
        slot.length = count > 0 ? unsigned(count) : 0;
        /* Fewer bytes than asked for come only at the end or an error. */
        if (count < int(READER_PIECE)) {
            slot.last = true;
            slot.ending.text = reader_->DescribeError(&slot.ending.code);
            slot.ending.systemError = reader_->SystemError();
        }
        return;
    }
    long inflated = -1;
    const unsigned char *member = worker.input.get();
    if (ReadFully(region_.descriptor, region_.start + job.offset, worker.input.get(), job.size) ==
            long(job.size) &&
        memcmp(member, job.header, BLOCK_HEADER_SIZE) == 0) {
        uint32_t fingerprint =
            record_ == MemberRecord::None ? 0 : FingerprintMember(member, job.size);
        if (record_ == MemberRecord::Consult && worker.decompressor != nullptr &&
            IsAcceptedMember(job.offset, job.size, fingerprint)) {
            inflated =
                InflateAcceptedBlockMember(worker.decompressor, member, job.size, slot.bytes.get());
        } else {
            inflated = InflateBlockMember(*worker.inflater, member, job.size, slot.bytes.get(),
                                          &slot.damage);
            if (inflated >= 0 && record_ == MemberRecord::Record)
                RecordAcceptedMember(job.offset, job.size, fingerprint);
        }
    }
    if (inflated < 0) {
        slot.kind = Kind::ToReader;
        slot.offset = job.offset;
    } else {
        slot.length = unsigned(inflated);
    }
}

void ReadAhead::Finish(Job &job)
{
    Slot &slot = *job.slot;
    if (job.streamed) {
        readerBusy_ = false;
        readerEnded_ = slot.last;
    }
    /* A block taken ahead on a hint that the streaming reader has since overruled. */
    slot.state = slot.epoch == epoch_ ? State::Ready : State::Free;
    ready_.notify_one();
    work_.notify_all();
}

/* Everything from the member at offset on is the streaming reader's: the slots filled
   ahead hold what followed it on its hint, and are dropped. */
void ReadAhead::HandOverToReader(uint64_t offset)
{
    epoch_++;
    for (Slot &slot : slots_)
        if (slot.state == State::Ready)
            slot.state = State::Free;
    claimed_ = consumed_;
    ArchiveRegion rest = {region_.descriptor, region_.start + offset, region_.length - offset};
    reader_ = std::make_unique<GzipReader>(rest, inputSize_, offset != 0, false);
    work_.notify_all();
}

int ReadAhead::Read(void *buffer, unsigned length)
{
    if (length > unsigned(INT_MAX))
        length = unsigned(INT_MAX);
    auto *out = static_cast<unsigned char *>(buffer);
    unsigned delivered = 0;
    /* A ready slot is the caller's alone until it frees it: most reads take
       their bytes from the slot held, without the lock. */
    if (held_ != nullptr) {
        unsigned piece = std::min(length, held_->length - held_->taken);
        memcpy(out, held_->bytes.get() + held_->taken, piece);
        held_->taken += piece;
        delivered = piece;
        if (delivered == length && held_->taken < held_->length)
            return int(delivered);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    while (delivered < length && !finished_) {
        Slot &slot = slots_[consumed_ % slots_.size()];
        if (slot.state != State::Ready) {
            if (threads_ != 0) {
                ready_.wait(lock);
                continue;
            }
            Job job;
            Claim claim = TryClaim(job);
            if (claim == Claim::Job) {
                lock.unlock();
                Run(job, workers_[0]);
                lock.lock();
                Finish(job);
            }
            continue;
        }
        if (slot.kind == Kind::ToReader) {
            knownDamage_ = slot.damage;
            HandOverToReader(slot.offset);
            continue;
        }
        held_ = &slot;
        unsigned piece = std::min(length - delivered, slot.length - slot.taken);
        lock.unlock();
        memcpy(out + delivered, slot.bytes.get() + slot.taken, piece);
        lock.lock();
        slot.taken += piece;
        delivered += piece;
        if (slot.taken < slot.length)
            continue;
        held_ = nullptr;
        if (slot.last) {
            finished_ = true;
            end_ = slot.ending;
        } else {
            slot.state = State::Free;
            consumed_++;
            work_.notify_all();
        }
    }
    if (delivered == 0 && end_.code != Z_OK)
        return -1;
    return int(delivered);
}

const char *ReadAhead::DescribeError(int *code)
{
    if (code != nullptr)
        *code = end_.code;
    return end_.text;
}

} // namespace

HostStream *StartInflater(const ArchiveRegion &region, unsigned workers, unsigned inputSize)
{
    return new ReadAhead(region, std::min(workers, MOST_WORKERS), inputSize);
}

HostStream *StartInflater(const ArchiveRegion &region)
{
    return StartInflater(region, CountCores());
}

HostStream *StartGzipReader(const ArchiveRegion &region, unsigned inputSize)
{
    return new GzipReader(region, inputSize, false, true);
}

#ifndef PLATFORM_STREAM_GZIP_READER_H
#define PLATFORM_STREAM_GZIP_READER_H

#include <memory>

#include <zlib.h>

#include "GzipMember.h"
#include "HostStream.h"

/* Reads a region of a gzip file, one member after another as one stream,
   on the caller's thread, inflating with GzipMember as zlib's inflate
   would. A region that does not begin with the gzip magic bytes is
   delivered unchanged. After a member only another member may follow, or
   zero bytes up to the region's end (the padding of a tape or block
   device); anything else is damaged data, as is a member that breaks off.

   Everything inflated before damage is found (a bad code, a CRC-32 or length
   that does not match the member's trailer) is delivered first, and the
   error is reported by the read that reaches it: a read then returns what
   it got, and the next read returns -1. A damaged member is thus reported
   where it is damaged, not earlier. */
class GzipReader : public HostStream
{
  public:
    /* afterMember: the region begins where an earlier member ended, so its
       bytes must be members too. The descriptor stays the caller's unless
       ownsDescriptor. */
    GzipReader(const ArchiveRegion &region, unsigned inputSize, bool afterMember,
               bool ownsDescriptor);
    ~GzipReader() override;
    GzipReader(const GzipReader &) = delete;
    GzipReader &operator=(const GzipReader &) = delete;

    int Read(void *buffer, unsigned length) override;
    const char *DescribeError(int *code) override;
    int SystemError() override { return systemError_; }

  private:
    enum class Phase { Look, Copy, Member, Padding, End };
    enum class Step { More, NeedInput, MemberEnd, Failed };

    /* Reads more of the region after the unread input; false at its end or
       on a read error (which is recorded). */
    bool FillInput();
    void Fail(int code, const char *message, int systemError = 0);
    void Look();
    void BeginMember();
    Step InflateMember(unsigned char *out, unsigned length, unsigned *produced);
    void SkipPadding();
    unsigned Copy(unsigned char *out, unsigned length);
    /* Reads the region on from what was read of it: the count, or -1. */
    long ReadRegion(unsigned char *into, unsigned count);

    ArchiveRegion region_;
    bool ownsDescriptor_;
    uint64_t consumed_ = 0;
    unsigned inputSize_;
    std::unique_ptr<unsigned char[]> input_;
    unsigned char *next_; /* the unread input */
    unsigned available_ = 0;
    bool endOfRegion_ = false;
    bool sawMember_;
    Phase phase_ = Phase::Look;
    GzipMember member_;
    int errorCode_ = Z_OK;
    int systemError_ = 0;
    const char *errorText_ = "";
};

#endif

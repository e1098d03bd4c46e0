#ifndef PLATFORM_STREAM_GZIP_READER_H
#define PLATFORM_STREAM_GZIP_READER_H

#include <memory>

#include "HostStream.h"

/* The gzip file reading that both inflaters share, with zlib's gzread
   contract: a file that does not begin with the gzip magic bytes is
   delivered unchanged; members follow one another as one stream; bytes
   after a member that do not begin another are ignored; a member that
   breaks off is an error. Each inflater decodes one member at a time from
   the input kept here.

   Everything an inflater produces before it finds damage (a bad code, a
   CRC-32 or length that does not match the member's trailer) is delivered
   first, and the error is reported by the read that reaches it: a read
   then returns what it got, and the next read returns -1. A damaged member
   is thus reported where it is damaged, not earlier, whatever the inflater
   reads ahead. */
class GzipReader : public HostStream {
public:
    GzipReader(const ArchiveRegion &region, unsigned inputSize);
    ~GzipReader() override;
    GzipReader(const GzipReader &) = delete;
    GzipReader &operator=(const GzipReader &) = delete;

    int Read(void *buffer, unsigned length) override;
    const char *DescribeError(int *code) override;

protected:
    enum class Step {
        More,      /* made progress; call again while output is wanted */
        NeedInput, /* every byte of input is taken; more is needed */
        MemberEnd, /* the member ended and its trailer matched */
        Failed,    /* Fail was called */
    };
    /* Starts a member at the current input, which begins with the magic. */
    virtual void BeginMember() = 0;
    /* Inflates into out, at most length bytes, setting *produced. */
    virtual Step InflateMember(unsigned char *out, unsigned length, unsigned *produced) = 0;

    /* Reads more of the file after the unread input; false at the end of the
       file or on a read error (which is recorded). */
    bool FillInput();
    /* Takes count bytes of input, reading more as needed; false when the
       file ends first (recorded as a stream that breaks off). */
    bool TakeInput(unsigned char *into, unsigned count);
    /* Puts back up to UNREAD_ROOM bytes that an inflater had taken but not
       used, to be read again before the unread input. */
    void UnreadInput(const unsigned char *bytes, unsigned count);
    void Fail(int code, const char *message);
    /* After an inflation that neither ended the data nor failed: more input
       when every byte is taken, another call when it made progress, and an
       error when it made none. */
    Step ContinueInflating(bool progress);

    static constexpr unsigned UNREAD_ROOM = 8;

    unsigned char *next_ = nullptr; /* the unread input */
    unsigned available_ = 0;

private:
    enum class Phase { Look, Copy, Member, End };
    void Look();
    unsigned Copy(unsigned char *out, unsigned length);
    unsigned char *Start() { return input_.get() + UNREAD_ROOM; }
    /* Reads the region on from what was read of it: the count, or -1. */
    long ReadRegion(unsigned char *into, unsigned count);

    ArchiveRegion region_;
    uint64_t consumed_ = 0;
    unsigned inputSize_;
    std::unique_ptr<unsigned char[]> input_;
    bool endOfFile_ = false;
    bool sawMember_ = false;
    Phase phase_ = Phase::Look;
    int errorCode_ = 0;
    const char *errorText_ = "";
};

#endif

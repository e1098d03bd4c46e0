#ifndef PLATFORM_STREAM_GZIP_MEMBER_H
#define PLATFORM_STREAM_GZIP_MEMBER_H

#include <cstdint>

#include "Inflater.h"

/* Reads one gzip member after another, from input in pieces of any size:
   the header (its CRC-16 checked when it carries one), the deflate data
   inflated by Inflater, and the trailer, checked against the data's CRC-32
   and length. Its faults and their messages are zlib's for the same bytes,
   each found where zlib finds it, after all the data before it. */
class GzipMember
{
  public:
    enum class Step { More, NeedInput, MemberEnd, Failed };

    /* Begins a member whose first byte is the next input. */
    void Begin();
    /* Inflates from next on into out: More once out is full, NeedInput
       once every byte of input is taken, MemberEnd after the trailer,
       Failed on damage; produced counts the bytes put into out. */
    Step Inflate(const unsigned char *&next, unsigned &available, unsigned char *out,
                 unsigned length, unsigned *produced);
    const char *Error() const { return error_; }

  private:
    enum class Part {
        Fixed,
        ExtraLength,
        Extra,
        Name,
        Comment,
        HeaderCheck,
        Data,
        DataCheck,
        LengthCheck,
        Done,
        Bad
    };

    Step ReadFraming(const unsigned char *&next, unsigned &available);
    /* Collects the field's bytes up to size: false until it has them. */
    bool Collect(const unsigned char *&next, unsigned &available, unsigned size);
    /* Skips a zero-terminated field: false until its zero is taken. */
    bool SkipString(const unsigned char *&next, unsigned &available);
    uint32_t FieldValue(unsigned size) const;
    void NextHeaderPart();
    Step Fail(const char *message);

    Inflater inflater_;
    Part part_ = Part::Fixed;
    unsigned char field_[10];
    unsigned have_ = 0;
    unsigned flags_ = 0;
    unsigned extraLeft_ = 0;
    uint32_t headerCrc_ = 0;
    uint32_t crc_ = 0;
    uint32_t size_ = 0;
    const char *error_ = "";
};

#endif

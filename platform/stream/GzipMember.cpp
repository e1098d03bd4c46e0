#include "GzipMember.h"

#include <cstring>

#include <libdeflate.h>

namespace
{

constexpr unsigned HEADER_CRC = 0x02, EXTRA = 0x04, NAME = 0x08, COMMENT = 0x10, RESERVED = 0xe0;

} // namespace

void GzipMember::Begin()
{
    inflater_.Reset();
    part_ = Part::Fixed;
    have_ = 0;
    flags_ = 0;
    headerCrc_ = 0;
    crc_ = 0;
    size_ = 0;
    error_ = "";
}

GzipMember::Step GzipMember::Fail(const char *message)
{
    part_ = Part::Bad;
    error_ = message;
    return Step::Failed;
}

bool GzipMember::Collect(const unsigned char *&next, unsigned &available, unsigned size)
{
    unsigned piece = size - have_ < available ? size - have_ : available;
    memcpy(field_ + have_, next, piece);
    next += piece;
    available -= piece;
    have_ += piece;
    return have_ == size;
}

bool GzipMember::SkipString(const unsigned char *&next, unsigned &available)
{
    const void *zero = memchr(next, 0, available);
    unsigned piece =
        zero != nullptr ? unsigned(static_cast<const unsigned char *>(zero) - next) + 1 : available;
    headerCrc_ = libdeflate_crc32(headerCrc_, next, piece);
    next += piece;
    available -= piece;
    return zero != nullptr;
}

uint32_t GzipMember::FieldValue(unsigned size) const
{
    uint32_t value = 0;
    for (unsigned i = size; i-- > 0;)
        value = value << 8 | field_[i];
    return value;
}

/* The optional header fields in their order, each only when its flag is set. */
void GzipMember::NextHeaderPart()
{
    have_ = 0;
    if (part_ < Part::ExtraLength && (flags_ & EXTRA))
        part_ = Part::ExtraLength;
    else if (part_ < Part::Name && (flags_ & NAME))
        part_ = Part::Name;
    else if (part_ < Part::Comment && (flags_ & COMMENT))
        part_ = Part::Comment;
    else if (part_ < Part::HeaderCheck && (flags_ & HEADER_CRC))
        part_ = Part::HeaderCheck;
    else
        part_ = Part::Data;
}

GzipMember::Step GzipMember::ReadFraming(const unsigned char *&next, unsigned &available)
{
    switch (part_) {
    case Part::Fixed:
        /* Method and flags are judged as soon as they are there. */
        if (!Collect(next, available, have_ < 4 ? 4 : 10))
            return Step::NeedInput;
        if (have_ == 4) {
            if (field_[2] != 8)
                return Fail("unknown compression method");
            if (field_[3] & RESERVED)
                return Fail("unknown header flags set");
            return Step::More;
        }
        flags_ = field_[3];
        headerCrc_ = libdeflate_crc32(0, field_, 10);
        NextHeaderPart();
        return Step::More;
    case Part::ExtraLength:
        if (!Collect(next, available, 2))
            return Step::NeedInput;
        headerCrc_ = libdeflate_crc32(headerCrc_, field_, 2);
        extraLeft_ = FieldValue(2);
        part_ = Part::Extra;
        return Step::More;
    case Part::Extra: {
        unsigned piece = extraLeft_ < available ? extraLeft_ : available;
        headerCrc_ = libdeflate_crc32(headerCrc_, next, piece);
        next += piece;
        available -= piece;
        extraLeft_ -= piece;
        if (extraLeft_ != 0)
            return Step::NeedInput;
        NextHeaderPart();
        return Step::More;
    }
    case Part::Name:
    case Part::Comment:
        if (!SkipString(next, available))
            return Step::NeedInput;
        NextHeaderPart();
        return Step::More;
    case Part::HeaderCheck:
        if (!Collect(next, available, 2))
            return Step::NeedInput;
        if (FieldValue(2) != (headerCrc_ & 0xffff))
            return Fail("header crc mismatch");
        part_ = Part::Data;
        return Step::More;
    case Part::DataCheck:
        if (!Collect(next, available, 4))
            return Step::NeedInput;
        if (FieldValue(4) != crc_)
            return Fail("incorrect data check");
        have_ = 0;
        part_ = Part::LengthCheck;
        return Step::More;
    case Part::LengthCheck:
        if (!Collect(next, available, 4))
            return Step::NeedInput;
        if (FieldValue(4) != size_)
            return Fail("incorrect length check");
        part_ = Part::Done;
        return Step::MemberEnd;
    case Part::Done:
        return Step::MemberEnd;
    case Part::Data:
    case Part::Bad:
        break;
    }
    return Step::Failed;
}

GzipMember::Step GzipMember::Inflate(const unsigned char *&next, unsigned &available,
                                     unsigned char *out, unsigned length, unsigned *produced)
{
    *produced = 0;
    for (;;) {
        /* What is inflated goes out first, before any fault after it. */
        unsigned pending = inflater_.PendingCount();
        if (pending != 0) {
            unsigned piece = pending < length - *produced ? pending : length - *produced;
            memcpy(out + *produced, inflater_.Pending(), piece);
            inflater_.Take(piece);
            *produced += piece;
            if (*produced == length)
                return Step::More;
        }
        if (part_ != Part::Data) {
            Step step = ReadFraming(next, available);
            if (step != Step::More)
                return step;
            continue;
        }
        Inflater::Status status = inflater_.Run(next, available);
        unsigned count = inflater_.PendingCount();
        crc_ = libdeflate_crc32(crc_, inflater_.Pending(), count);
        size_ += count;
        if (count != 0)
            continue;
        if (status == Inflater::Status::NeedInput)
            return Step::NeedInput;
        if (status == Inflater::Status::Failed)
            return Fail(inflater_.Error());
        if (status == Inflater::Status::End) {
            have_ = 0;
            part_ = Part::DataCheck;
        }
    }
}

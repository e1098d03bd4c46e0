#include "GzipReader.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <unistd.h>

#include "ReadFully.h"

GzipReader::GzipReader(const ArchiveRegion &region, unsigned inputSize, bool afterMember,
                       bool ownsDescriptor)
    : region_(region), ownsDescriptor_(ownsDescriptor), inputSize_(inputSize < 2 ? 2 : inputSize),
      input_(new unsigned char[inputSize_]), next_(input_.get()), sawMember_(afterMember)
{
}

GzipReader::~GzipReader()
{
    if (ownsDescriptor_)
        close(region_.descriptor);
}

long GzipReader::ReadRegion(unsigned char *into, unsigned count)
{
    uint64_t left = region_.length - consumed_;
    if (count > left)
        count = unsigned(left);
    long got = ReadFully(region_.descriptor, region_.start + consumed_, into, count);
    if (got > 0)
        consumed_ += uint64_t(got);
    return got;
}

bool GzipReader::FillInput()
{
    if (endOfRegion_ || errorCode_ != Z_OK)
        return false;
    if (available_ != 0 && next_ != input_.get())
        memmove(input_.get(), next_, available_);
    next_ = input_.get();
    if (available_ == inputSize_)
        return true;
    long got = ReadRegion(next_ + available_, inputSize_ - available_);
    if (got < 0) {
        Fail(Z_ERRNO, strerror(errno), errno);
        return false;
    }
    if (unsigned(got) < inputSize_ - available_)
        endOfRegion_ = true;
    available_ += unsigned(got);
    return got > 0;
}

void GzipReader::Fail(int code, const char *message, int systemError)
{
    /* The first error is the one that counts. */
    if (errorCode_ != Z_OK)
        return;
    errorCode_ = code;
    errorText_ = message;
    systemError_ = systemError;
}

void GzipReader::Look()
{
    if (available_ < 2)
        FillInput();
    if (errorCode_ != Z_OK)
        return;
    if (available_ >= 2 && next_[0] == 0x1f && next_[1] == 0x8b) {
        sawMember_ = true;
        BeginMember();
        phase_ = Phase::Member;
    } else if (available_ == 0) {
        phase_ = Phase::End;
    } else if (available_ == 1 && next_[0] == 0x1f && sawMember_) {
        /* The first byte of a member's magic, and the region ends: a cut. */
        Fail(Z_BUF_ERROR, "unexpected end of file");
    } else {
        phase_ = sawMember_ ? Phase::Padding : Phase::Copy;
    }
}

void GzipReader::BeginMember()
{
    member_.Begin();
}

GzipReader::Step GzipReader::InflateMember(unsigned char *out, unsigned length, unsigned *produced)
{
    const unsigned char *next = next_;
    GzipMember::Step step = member_.Inflate(next, available_, out, length, produced);
    next_ += next - next_;
    switch (step) {
    case GzipMember::Step::More:
        return Step::More;
    case GzipMember::Step::NeedInput:
        return Step::NeedInput;
    case GzipMember::Step::MemberEnd:
        return Step::MemberEnd;
    case GzipMember::Step::Failed:
        break;
    }
    Fail(Z_DATA_ERROR, member_.Error());
    return Step::Failed;
}

/* gzip itself takes zero bytes after the last member for a device's
   padding; any other byte that begins no member would hide whatever it
   holds, so it is damage. */
void GzipReader::SkipPadding()
{
    for (;;) {
        while (available_ != 0 && *next_ == 0) {
            next_++;
            available_--;
        }
        if (available_ != 0) {
            Fail(Z_DATA_ERROR, "data after a member that are not a member");
            return;
        }
        if (!FillInput()) {
            if (errorCode_ == Z_OK)
                phase_ = Phase::End;
            return;
        }
    }
}

unsigned GzipReader::Copy(unsigned char *out, unsigned length)
{
    unsigned piece = length < available_ ? length : available_;
    memcpy(out, next_, piece);
    next_ += piece;
    available_ -= piece;
    if (piece == length)
        return piece;
    long got = endOfRegion_ ? 0 : ReadRegion(out + piece, length - piece);
    if (got < 0) {
        Fail(Z_ERRNO, strerror(errno), errno);
        return piece;
    }
    if (unsigned(got) < length - piece)
        phase_ = Phase::End;
    return piece + unsigned(got);
}

int GzipReader::Read(void *buffer, unsigned length)
{
    if (length > unsigned(INT_MAX))
        length = unsigned(INT_MAX);
    auto *out = static_cast<unsigned char *>(buffer);
    unsigned delivered = 0;
    while (delivered < length && errorCode_ == Z_OK && phase_ != Phase::End) {
        if (phase_ == Phase::Look) {
            Look();
        } else if (phase_ == Phase::Copy) {
            delivered += Copy(out + delivered, length - delivered);
        } else if (phase_ == Phase::Padding) {
            SkipPadding();
        } else {
            unsigned produced = 0;
            Step step = InflateMember(out + delivered, length - delivered, &produced);
            delivered += produced;
            if (step == Step::MemberEnd)
                phase_ = Phase::Look;
            else if (step == Step::NeedInput && !FillInput())
                Fail(Z_BUF_ERROR, "unexpected end of file");
        }
    }
    if (delivered == 0 && errorCode_ != Z_OK)
        return -1;
    return int(delivered);
}

const char *GzipReader::DescribeError(int *code)
{
    if (code != nullptr)
        *code = errorCode_;
    return errorText_;
}

#include "GzipReader.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <unistd.h>

#include <stream/gzip.h>

namespace {

/* pread() from offset until count bytes or the end of the file: the count
   read, or -1. */
long ReadFully(int descriptor, uint64_t offset, unsigned char *into, unsigned count)
{
    unsigned done = 0;
    while (done < count) {
        ssize_t got = pread(descriptor, into + done, count - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += unsigned(got);
    }
    return long(done);
}

}  // namespace

GzipReader::GzipReader(const ArchiveRegion &region, unsigned inputSize)
    : region_(region), inputSize_(inputSize < 2 ? 2 : inputSize),
      input_(new unsigned char[UNREAD_ROOM + inputSize_])
{
    next_ = Start();
}

GzipReader::~GzipReader()
{
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
    if (endOfFile_ || errorCode_ != Z_OK)
        return false;
    if (available_ != 0 && next_ != Start())
        memmove(Start(), next_, available_);
    next_ = Start();
    if (available_ == inputSize_)
        return true;
    long got = ReadRegion(next_ + available_, inputSize_ - available_);
    if (got < 0) {
        Fail(Z_ERRNO, strerror(errno));
        return false;
    }
    if (unsigned(got) < inputSize_ - available_)
        endOfFile_ = true;
    available_ += unsigned(got);
    return got > 0;
}

bool GzipReader::TakeInput(unsigned char *into, unsigned count)
{
    while (count != 0) {
        if (available_ == 0 && !FillInput()) {
            Fail(Z_BUF_ERROR, "unexpected end of file");
            return false;
        }
        unsigned piece = count < available_ ? count : available_;
        memcpy(into, next_, piece);
        into += piece;
        next_ += piece;
        available_ -= piece;
        count -= piece;
    }
    return true;
}

void GzipReader::UnreadInput(const unsigned char *bytes, unsigned count)
{
    /* The input always begins UNREAD_ROOM bytes into its buffer. */
    next_ -= count;
    available_ += count;
    memcpy(next_, bytes, count);
}

GzipReader::Step GzipReader::ContinueInflating(bool progress)
{
    if (available_ == 0)
        return Step::NeedInput;
    if (progress)
        return Step::More;
    Fail(Z_STREAM_ERROR, "inflate made no progress");
    return Step::Failed;
}

void GzipReader::Fail(int code, const char *message)
{
    /* The first error is the one that counts. */
    if (errorCode_ != Z_OK)
        return;
    errorCode_ = code;
    errorText_ = message;
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
    } else if (sawMember_ || available_ == 0) {
        /* Whatever follows the last member is not part of the stream. */
        available_ = 0;
        phase_ = Phase::End;
    } else {
        phase_ = Phase::Copy;
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
    long got = endOfFile_ ? 0 : ReadRegion(out + piece, length - piece);
    if (got < 0) {
        Fail(Z_ERRNO, strerror(errno));
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

#include "GzipReader.h"

#include <cstring>
#include <memory>

#include <stream/gzip.h>
#include <unistd.h>

#include "IsalLibrary.h"

/* The inflater on ISA-L's isal_inflate, several times faster than zlib's on
   this kind of data. ISA-L decodes the raw deflate data and keeps its
   CRC-32; the member's header and trailer are read here, with the checks and
   texts of zlib's own gzip reading. */

namespace {

constexpr unsigned char FLAG_HEADER_CRC = 0x02;
constexpr unsigned char FLAG_EXTRA = 0x04;
constexpr unsigned char FLAG_NAME = 0x08;
constexpr unsigned char FLAG_COMMENT = 0x10;
constexpr unsigned char FLAGS_RESERVED = 0xe0;

uint32_t ReadLittleEndian32(const unsigned char *bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

const char *DescribeIsalError(int result)
{
    switch (result) {
    case ISAL_INVALID_BLOCK:
        return "invalid block";
    case ISAL_INVALID_SYMBOL:
        return "invalid code";
    case ISAL_INVALID_LOOKBACK:
        return "invalid distance too far back";
    default:
        return "compressed data error";
    }
}

class IsalInflater final : public GzipReader {
public:
    IsalInflater(const IsalLibrary &isal, const ArchiveRegion &region, unsigned inputSize)
        : GzipReader(region, inputSize), isal_(isal), state_(new inflate_state)
    {
        isal_.isal_inflate_init(state_.get());
    }

protected:
    void BeginMember() override { part_ = Part::Header; }

    Step InflateMember(unsigned char *out, unsigned length, unsigned *produced) override
    {
        *produced = 0;
        if (part_ == Part::Header) {
            if (!ReadHeader())
                return Step::Failed;
            isal_.isal_inflate_reset(state_.get());
            state_->crc_flag = ISAL_GZIP_NO_HDR;
            part_ = Part::Data;
        }
        if (part_ == Part::Trailer)
            return CheckTrailer();
        return Inflate(out, length, produced);
    }

private:
    enum class Part { Header, Data, Trailer };

    Step Inflate(unsigned char *out, unsigned length, unsigned *produced)
    {
        inflate_state &state = *state_;
        state.next_in = next_;
        state.avail_in = available_;
        state.next_out = out;
        state.avail_out = length;
        int result = isal_.isal_inflate(&state);
        *produced = length - state.avail_out;
        bool progress = *produced != 0 || state.avail_in != available_;
        next_ = state.next_in;
        available_ = state.avail_in;
        if (result < 0) {
            Fail(Z_DATA_ERROR, DescribeIsalError(result));
            return Step::Failed;
        }
        /* The trailer is looked at only when more output is wanted, so that
           a mismatch is reported after everything before it. */
        if (state.block_state == ISAL_BLOCK_FINISH) {
            ReturnUnusedBits();
            part_ = Part::Trailer;
            return Step::More;
        }
        if (state.avail_out == 0)
            return Step::More;
        return ContinueInflating(progress);
    }

    /* ISA-L reads ahead up to eight bytes into its bit buffer; the whole
       bytes past the end of the deflate data begin the trailer. */
    void ReturnUnusedBits()
    {
        inflate_state &state = *state_;
        unsigned count = state.read_in_length > 0 ? unsigned(state.read_in_length) / 8 : 0;
        uint64_t bits = state.read_in >> (state.read_in_length % 8);
        unsigned char bytes[UNREAD_ROOM];
        for (unsigned i = 0; i < count; i++)
            bytes[i] = (unsigned char)(bits >> (8 * i));
        UnreadInput(bytes, count);
        state.read_in = 0;
        state.read_in_length = 0;
    }

    Step CheckTrailer()
    {
        unsigned char check[4];
        if (!TakeInput(check, 4))
            return Step::Failed;
        if (ReadLittleEndian32(check) != state_->crc) {
            Fail(Z_DATA_ERROR, "incorrect data check");
            return Step::Failed;
        }
        if (!TakeInput(check, 4))
            return Step::Failed;
        if (ReadLittleEndian32(check) != state_->total_out) {
            Fail(Z_DATA_ERROR, "incorrect length check");
            return Step::Failed;
        }
        return Step::MemberEnd;
    }

    /* Takes count bytes of the header, adding them to its CRC-32. */
    bool TakeHeader(unsigned char *into, unsigned count)
    {
        if (!TakeInput(into, count))
            return false;
        headerCrc_ = isal_.crc32_gzip_refl(headerCrc_, into, count);
        return true;
    }

    /* Passes over count header bytes, or up to and including a NUL when
       count is 0. */
    bool SkipHeaderField(uint32_t count)
    {
        bool untilNul = count == 0;
        for (;;) {
            if (available_ == 0 && !FillInput()) {
                Fail(Z_BUF_ERROR, "unexpected end of file");
                return false;
            }
            unsigned piece = available_;
            if (untilNul) {
                auto *nul = static_cast<unsigned char *>(memchr(next_, 0, available_));
                if (nul != nullptr)
                    piece = unsigned(nul - next_) + 1;
            } else if (count < piece) {
                piece = count;
            }
            headerCrc_ = isal_.crc32_gzip_refl(headerCrc_, next_, piece);
            bool done = untilNul ? next_[piece - 1] == 0 : (count -= piece) == 0;
            next_ += piece;
            available_ -= piece;
            if (done)
                return true;
        }
    }

    bool ReadHeader()
    {
        headerCrc_ = 0;
        unsigned char fixed[10];
        if (!TakeHeader(fixed, sizeof fixed))
            return false;
        if (fixed[2] != 8) {
            Fail(Z_DATA_ERROR, "unknown compression method");
            return false;
        }
        unsigned char flags = fixed[3];
        if (flags & FLAGS_RESERVED) {
            Fail(Z_DATA_ERROR, "unknown header flags set");
            return false;
        }
        if (flags & FLAG_EXTRA) {
            unsigned char size[2];
            if (!TakeHeader(size, 2))
                return false;
            uint32_t extra = uint32_t(size[0]) | uint32_t(size[1]) << 8;
            if (extra != 0 && !SkipHeaderField(extra))
                return false;
        }
        if ((flags & FLAG_NAME) && !SkipHeaderField(0))
            return false;
        if ((flags & FLAG_COMMENT) && !SkipHeaderField(0))
            return false;
        if (flags & FLAG_HEADER_CRC) {
            uint32_t expected = headerCrc_ & 0xffff;
            unsigned char check[2];
            if (!TakeInput(check, 2))
                return false;
            if ((uint32_t(check[0]) | uint32_t(check[1]) << 8) != expected) {
                Fail(Z_DATA_ERROR, "header crc mismatch");
                return false;
            }
        }
        return true;
    }

    const IsalLibrary &isal_;
    std::unique_ptr<inflate_state> state_;
    Part part_ = Part::Header;
    uint32_t headerCrc_ = 0;
};

}  // namespace

HostStream *StartIsalInflater(const ArchiveRegion &region, unsigned inputSize)
{
    const IsalLibrary *isal = LoadIsalLibrary();
    if (isal == nullptr) {
        close(region.descriptor);
        return nullptr;
    }
    return new IsalInflater(*isal, region, inputSize);
}

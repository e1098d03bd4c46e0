#include "GzipReader.h"

#include <unistd.h>
#include <zlib.h>

/* The inflater on zlib's inflate, which also reads each member's header and
   checks its trailer. */

namespace {

class ZlibInflater final : public GzipReader {
public:
    ZlibInflater(const ArchiveRegion &region, unsigned inputSize) : GzipReader(region, inputSize) {}
    ~ZlibInflater() override
    {
        if (ready_)
            inflateEnd(&stream_);
    }

    /* A gzip wrapper only, with a 32 KiB window. */
    bool Start()
    {
        ready_ = inflateInit2(&stream_, 15 + 16) == Z_OK;
        return ready_;
    }

protected:
    void BeginMember() override { inflateReset(&stream_); }

    Step InflateMember(unsigned char *out, unsigned length, unsigned *produced) override
    {
        stream_.next_in = next_;
        stream_.avail_in = available_;
        stream_.next_out = out;
        stream_.avail_out = length;
        int result = inflate(&stream_, Z_NO_FLUSH);
        *produced = length - stream_.avail_out;
        bool progress = *produced != 0 || stream_.avail_in != available_;
        next_ = stream_.next_in;
        available_ = stream_.avail_in;
        switch (result) {
        case Z_STREAM_END:
            return Step::MemberEnd;
        case Z_OK:
        case Z_BUF_ERROR:
            return ContinueInflating(progress);
        case Z_DATA_ERROR:
            Fail(Z_DATA_ERROR, stream_.msg != nullptr ? stream_.msg : "compressed data error");
            return Step::Failed;
        case Z_MEM_ERROR:
            Fail(Z_MEM_ERROR, "out of memory");
            return Step::Failed;
        default:
            Fail(Z_STREAM_ERROR, "internal error: inflate stream corrupt");
            return Step::Failed;
        }
    }

private:
    z_stream stream_{};
    bool ready_ = false;
};

}  // namespace

HostStream *StartZlibInflater(const ArchiveRegion &region, unsigned inputSize)
{
    auto *inflater = new ZlibInflater(region, inputSize);
    if (!inflater->Start()) {
        delete inflater;
        return nullptr;
    }
    return inflater;
}

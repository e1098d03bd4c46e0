#include "HostStream.h"

#include <unistd.h>
#include <zlib.h>

/* The inflater on zlib's gzip file functions. */

namespace {

class ZlibInflater : public HostStream {
public:
    explicit ZlibInflater(gzFile_s *file) : file_(file) {}
    ~ZlibInflater() override { gzclose(file_); }

    int Read(void *buffer, unsigned length) override
    {
        int count = gzread(file_, buffer, length);
        /* zlib hands back what it could inflate of a gzip stream that breaks
           off and then reports a plain end; only gzerror's Z_BUF_ERROR tells
           that the file ended inside a member. Without this check a cut
           archive would pass for a complete one. */
        if (count >= 0 && unsigned(count) < length) {
            int error = Z_OK;
            gzerror(file_, &error);
            if (error == Z_BUF_ERROR)
                return -1;
        }
        return count;
    }

    const char *DescribeError(int *code) override { return gzerror(file_, code); }

private:
    gzFile_s *file_;
};

}  // namespace

HostStream *StartInflater(int descriptor)
{
    gzFile_s *file = gzdopen(descriptor, "rb");
    if (file == nullptr) {
        close(descriptor);
        return nullptr;
    }
    /* zlib reads the file 8 KiB at a time unless told otherwise: 128 KiB
       takes a sixteenth of the calls, for 384 KiB of its buffers. */
    gzbuffer(file, 131072);
    return new ZlibInflater(file);
}

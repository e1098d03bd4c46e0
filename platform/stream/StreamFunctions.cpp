#include <stream/gzip.h>

#include "../text/HostReason.h"
#include "HostStream.h"

#include <cerrno>

/* A build configured for ISA-L reads with it wherever the library is
   installed, and with zlib where it is not; another build reads with zlib. */
#if VELORIN_INFLATE_ISAL
HostStream *StartInflater(const ArchiveRegion &region)
{
    if (IsIsalAvailable())
        return StartIsalInflater(region);
    return StartZlibInflater(region);
}
#else
HostStream *StartInflater(const ArchiveRegion &region)
{
    return StartZlibInflater(region);
}
#endif

gzFile gzopen(const char *path, const char *mode)
{
    if (path == nullptr || mode == nullptr || mode[0] != 'r')
        return nullptr;
    ArchiveRegion region;
    if (!OpenArchiveFile(path, region))
        return nullptr;
    return StartInflater(region);
}

int gzread(gzFile file, void *buffer, unsigned length)
{
    if (file == nullptr)
        return -1;
    int count = file->Read(buffer, length);
    /* Only a failing read of the file has a reason of the host's; damaged
       data are the message's own matter. */
    int code = Z_OK;
    if (count < 0)
        file->DescribeError(&code);
    RecordHostReason(code == Z_ERRNO ? errno : 0);
    return count;
}

const char *gzerror(gzFile file, int *errnum)
{
    if (file == nullptr) {
        if (errnum != nullptr)
            *errnum = Z_STREAM_ERROR;
        return "no stream";
    }
    return file->DescribeError(errnum);
}

int gzclose(gzFile file)
{
    if (file == nullptr)
        return Z_STREAM_ERROR;
    delete file;
    CloseArchiveFile();
    return Z_OK;
}

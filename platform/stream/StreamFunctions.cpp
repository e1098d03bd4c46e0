#include <stream/gzip.h>

#include "../text/HostReason.h"
#include "HostStream.h"

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
    RecordHostReason(code == Z_ERRNO ? file->SystemError() : 0);
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

#include "archive.h"

/* gzread, except that a gzip stream which breaks off is an error. gzread
   hands back what it could inflate and then reports a plain end of stream;
   only gzerror's Z_BUF_ERROR tells that the file ended inside a gzip member.
   Without this check a truncated archive would pass for a complete one. */
int ReadArchive(gzFile stream, void *buffer, unsigned length)
{
    int count = gzread(stream, buffer, length);
    if (count >= 0 && (unsigned)count < length) {
        int error = Z_OK;
        gzerror(stream, &error);
        if (error == Z_BUF_ERROR)
            return -1;
    }
    return count;
}

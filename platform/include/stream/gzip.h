#ifndef STREAM_GZIP_H
#define STREAM_GZIP_H

/* The archive's stream functions, with zlib's names and contract, provided
   by the platform so that the host decides how the file is opened and which
   inflater reads it:
   - gzopen(name, "r") opens the file by name; a file that does not begin
     with the gzip magic bytes is delivered unchanged. The file must be a
     regular one, since an archive is read twice; opened again by the same
     name after its stream was closed, it is the file of that earlier
     opening, from its start, unless it has changed since.
   - gzread returns the number of bytes delivered, 0 at the end of the
     stream, a negative value on an error (damaged data, a checksum or
     length that does not match, a gzip stream that breaks off); fewer bytes
     than asked for only at the end or on an error.
   - gzerror names the last error and gives its code; gzclose closes.
   A translation unit that uses these does not also include zlib.h. */

struct HostStream;
typedef struct HostStream *gzFile;

#define Z_OK 0
#define Z_ERRNO (-1)
#define Z_STREAM_ERROR (-2)
#define Z_DATA_ERROR (-3)
#define Z_MEM_ERROR (-4)
#define Z_BUF_ERROR (-5)

gzFile gzopen(const char *path, const char *mode);
int gzread(gzFile file, void *buffer, unsigned length);
const char *gzerror(gzFile file, int *errnum);
int gzclose(gzFile file);

#endif

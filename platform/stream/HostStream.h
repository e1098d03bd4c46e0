#ifndef PLATFORM_STREAM_HOST_STREAM_H
#define PLATFORM_STREAM_HOST_STREAM_H

/* One open archive behind the stream functions: an inflater reading from a
   file descriptor that it owns. */
struct HostStream {
    virtual ~HostStream() = default;
    /* As gzread: the count delivered, 0 at the end, negative on an error. */
    virtual int Read(void *buffer, unsigned length) = 0;
    /* The last error's text, and its code (Z_OK when there was none). */
    virtual const char *DescribeError(int *code) = 0;
};

/* Opens the archive file for reading; a descriptor, or -1 with errno set. */
int OpenArchiveFile(const char *name);

/* The inflater this build reads with; takes the descriptor over, also when
   it fails (null). */
HostStream *StartInflater(int descriptor);

/* The file is read this many bytes at a time. */
constexpr unsigned STREAM_INPUT_SIZE = 131072;

/* The two inflaters, on zlib's inflate and on ISA-L's isal_inflate, with the
   same gzip framing; each takes the descriptor over. inputSize is how much
   of the file is read at a time (tests vary it to move the seams). The
   ISA-L one exists only in builds that have the library. */
HostStream *StartZlibInflater(int descriptor, unsigned inputSize = STREAM_INPUT_SIZE);
HostStream *StartIsalInflater(int descriptor, unsigned inputSize = STREAM_INPUT_SIZE);

#endif

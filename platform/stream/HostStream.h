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

/* Opens the archive file for reading, positioned at its start; a
   descriptor, or -1 with the reason recorded (HostReason.h). The archive is
   read twice, once per pass, so it must be a regular file: anything else is
   refused before a byte is read. Opened again by the same name after its
   stream was closed, it is the very file of the earlier opening, read again
   from its start, whatever the name has come to name meanwhile; a file
   that has changed since (size or modification time) is refused. */
int OpenArchiveFile(const char *name);

/* The stream of the last opening was closed: its file may be opened again. */
void CloseArchiveFile();

/* The inflater this build reads with; takes the descriptor over, also when
   it fails (null). */
HostStream *StartInflater(int descriptor);

/* The file is read this many bytes at a time. */
constexpr unsigned STREAM_INPUT_SIZE = 131072;

/* The two inflaters, on zlib's inflate and on ISA-L's isal_inflate, with the
   same gzip framing; each takes the descriptor over. inputSize is how much
   of the file is read at a time (tests vary it to move the seams). The
   ISA-L one exists only in builds made with its headers, and gives null
   where the library is not installed. */
HostStream *StartZlibInflater(int descriptor, unsigned inputSize = STREAM_INPUT_SIZE);
HostStream *StartIsalInflater(int descriptor, unsigned inputSize = STREAM_INPUT_SIZE);

/* Whether ISA-L's library is installed here. */
bool IsIsalAvailable();

#endif

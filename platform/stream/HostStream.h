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

#include <cstdint>

/* Where an archive's bytes lie: length bytes of the descriptor's file from
   start. A plain archive is the whole of its file; one carried inside
   another file (an installer) is a part of it. */
struct ArchiveRegion {
    int descriptor = -1;
    uint64_t start = 0;
    uint64_t length = 0;
};

/* Opens the archive file for reading: true with its region, false with the
   reason recorded (HostReason.h). The archive is read twice, once per
   pass, so it must be a regular file: anything else is refused before a
   byte is read. Opened again by the same name after its stream was closed,
   it is the very file of the earlier opening, read again from its start,
   whatever the name has come to name meanwhile; a file that has changed
   since (size or modification time) is refused. The descriptor is the
   reader's to close. */
bool OpenArchiveFile(const char *name, ArchiveRegion &region);

/* An archive that the program carries inside its own file (an installer):
   from now on, every opening of name reads that region of the descriptor,
   which stays open for the whole run, so that both passes read the very
   bytes checked at start. A file that has changed since (size or
   modification time) is refused. */
void HoldArchiveRegion(const char *name, const ArchiveRegion &region);

/* The stream of the last opening was closed: its file may be opened again. */
void CloseArchiveFile();

/* The inflater this build reads with; takes the region's descriptor over,
   also when it fails (null). */
HostStream *StartInflater(const ArchiveRegion &region);

/* The file is read this many bytes at a time. */
constexpr unsigned STREAM_INPUT_SIZE = 131072;

/* The two inflaters, on zlib's inflate and on ISA-L's isal_inflate, with the
   same gzip framing; each takes the region's descriptor over and reads
   nothing outside the region. inputSize is how much
   of the file is read at a time (tests vary it to move the seams). The
   ISA-L one exists only in builds made with its headers, and gives null
   where the library is not installed. */
HostStream *StartZlibInflater(const ArchiveRegion &region, unsigned inputSize = STREAM_INPUT_SIZE);
HostStream *StartIsalInflater(const ArchiveRegion &region, unsigned inputSize = STREAM_INPUT_SIZE);

/* Whether ISA-L's library is installed here. */
bool IsIsalAvailable();

#endif

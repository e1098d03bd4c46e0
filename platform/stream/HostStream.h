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
    /* The system's error number when reading the file failed (Z_ERRNO). */
    virtual int SystemError() = 0;
    /* Why the member that the bytes read last come from is damaged, when
       that is known before a read meets the damage (zlib's words), else
       null: those bytes may already be garbage. */
    virtual const char *KnownDamage() const { return nullptr; }
};

#include <cstdint>

/* Where an archive's bytes lie: length bytes of the descriptor's file from
   start. A plain archive is the whole of its file; one carried inside
   another file (an installer) is a part of it. archive numbers the
   archive: every opening of one unchanged file has the same number, so
   that a later reading may rely on what an earlier one checked; 0 is an
   archive read once, which relies on nothing. */
struct ArchiveRegion {
    int descriptor = -1;
    uint64_t start = 0;
    uint64_t length = 0;
    uint64_t archive = 0;
};

/* Opens the archive file for reading: true with its region, false with the
   reason recorded (HostReason.h). The archive is read twice, once per
   pass, so it must be a regular file: anything else is refused before a
   byte is read, and the file is never opened for reading to find out.
   Opened again by the same name after its stream was closed, it is the
   very file of the earlier opening, read again from its start, whatever
   the name has come to name meanwhile; a file that has changed since (its
   size, modification or status-change time) is refused. The descriptor is
   the reader's to close. */
bool OpenArchiveFile(const char *name, ArchiveRegion &region);

/* An archive that the program carries inside its own file (an installer):
   from now on, every opening of name reads that region of the descriptor,
   which stays open for the whole run, so that both passes read the very
   bytes checked at start. A file that has changed since (size or
   modification time) is refused. */
void HoldArchiveRegion(const char *name, const ArchiveRegion &region);

/* The stream of the last opening was closed: its file may be opened again. */
void CloseArchiveFile();

/* Reads the region as the stream functions do: members of velorin-pack's
   block format are inflated ahead on as many threads as there are cores
   (at most MOST_WORKERS), every other member streamed by GzipReader on a
   thread of its own, ahead of the caller's reads. A block is inflated by
   the exact inflater, unless an earlier reading of the same archive took
   the very same bytes (AcceptedMembers.h); then by libdeflate. Takes the
   region's descriptor over and reads nothing outside the region. */
HostStream *StartInflater(const ArchiveRegion &region);

/* What the last gzread that delivered fewer bytes than asked for met,
   after which gzread's reason (HostReason.h) says the same in words: the
   archive ends early (a stream that ends, or breaks off, before the bytes
   asked for) or its data are damaged ("invalid compressed data (...)").
   None after a read that got everything, a failing read of the file,
   gzopen and gzclose. A read that reaches the archive's proper end counts
   as ending early too, until the stream is closed: only the caller knows
   that it asked for nothing more. */
enum class ReadShortfall { None, EndsEarly, Damaged };
ReadShortfall GetLastReadShortfall();

/* The file is read this many bytes at a time. */
constexpr unsigned STREAM_INPUT_SIZE = 131072;

/* The most threads that inflate blocks: each holds a block's input and
   output, about 2 MiB, so memory stays fixed whatever the machine. */
constexpr unsigned MOST_WORKERS = 4;

/* StartInflater with a given number of threads; with none, the caller's
   reads inflate, in the same order. inputSize is how much of the file the
   streaming reader reads at a time (tests vary both to move the seams). */
HostStream *StartInflater(const ArchiveRegion &region, unsigned workers,
                          unsigned inputSize = STREAM_INPUT_SIZE);

/* The streaming reader alone on the caller's thread, every member streamed
   as zlib's inflate would: what the others must deliver byte for byte and
   fault for fault. */
HostStream *StartGzipReader(const ArchiveRegion &region, unsigned inputSize = STREAM_INPUT_SIZE);

#endif

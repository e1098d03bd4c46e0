#ifndef TOOLS_ARCHIVE_WRITER_H
#define TOOLS_ARCHIVE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../format/ArchiveFormat.h"

class BlockCompressor;

/* With entryFlags, the header carries the signature that says each entry
   holds flags (and may be followed by links and attributes); with
   largeFiles, it is of the version that files of 4 GiB or more need. */
ArchiveHeader EncodeArchiveHeader(bool entryFlags = false, bool largeFiles = false);
FileHeader EncodeFileHeader(const std::string &name, uint32_t size, uint16_t type,
                            uint16_t flags = 0);

/* An ENTRY_ATTRIBUTES record for the entry that follows it: the fields
   (ATTRIBUTE_*) that hold values, the permission bits, the modification
   time, and the high 32 bits of a file's size. */
struct EntryAttributeValues {
    uint16_t fields = 0;
    uint16_t mode = 0;
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
    uint64_t size = 0;
};
FileHeader EncodeAttributes(const EntryAttributeValues &values);
/* Puts the attributes at the end of entry's own name field, flagged, when
   its name (and a link's target) leave room: false when they do not, and
   an ENTRY_ATTRIBUTES record must come before it instead. */
bool PutAttributesInEntry(FileHeader &entry, const EntryAttributeValues &values);
/* A link entry (ENTRY_SYMBOLIC_LINK or ENTRY_HARD_LINK); name and target
   together hold at most 254 bytes. */
FileHeader EncodeLink(const std::string &name, const std::string &target, uint16_t type);

/* The level that writes the archive stream bare, without gzip's framing. */
constexpr int PLAIN_STREAM = -1;

/* Writes an archive stream to a file: in gzip's format at levels 0 to 9
   (0 stores the data uncompressed, still with gzip's CRC-32 and length, so
   that a cut copy is found), or bare at PLAIN_STREAM. Velorin reads all.
   The gzip file is a series of members, each holding a block of the stream
   and its own size (format/BlockLayout.h), compressed on every core the process
   may run on; any gzip reader reads it as one stream. */
class ArchiveWriter
{
  public:
    ArchiveWriter();
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;
    ~ArchiveWriter();

    /* Writes into path, created or cut to nothing. */
    bool Open(const std::string &path, int level);
    /* Writes into an open file from its current position. The descriptor
       stays the caller's, open after Close; shownPath names it in errors. */
    bool Open(int descriptor, const std::string &shownPath, int level);
    bool WriteBytes(const void *data, size_t length);
    bool WriteEntryHeader(const std::string &name, uint32_t size, uint16_t type,
                          uint16_t flags = 0);
    bool WriteRecord(const FileHeader &record) { return WriteBytes(&record, sizeof record); }
    /* Closes the file; false when anything written could not reach it. */
    bool Close();
    const std::string &Error() const { return error_; }
    /* Compresses on this many threads rather than one per core; set before
       Open. The archive is the same byte for byte whatever the number. */
    void SetThreads(unsigned threads) { threads_ = threads; }

  private:
    bool Fail(const std::string &what);
    bool FailWriting();
    bool WriteOut(const unsigned char *data, size_t length);
    bool SubmitBlock();
    bool WriteOldestMember();

    int descriptor_ = -1;
    bool ownDescriptor_ = false;
    unsigned threads_ = 0;
    std::unique_ptr<BlockCompressor> compressor_;
    /* Members written, so that even an empty stream becomes one member. */
    uint64_t members_ = 0;
    /* PLAIN_STREAM's bytes, gathered to be written in large pieces. */
    std::vector<unsigned char> plain_;
    bool plainStream_ = false;
    std::string path_;
    std::string error_;
};

#endif

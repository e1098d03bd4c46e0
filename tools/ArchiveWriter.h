#ifndef TOOLS_ARCHIVE_WRITER_H
#define TOOLS_ARCHIVE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../archive/ArchiveFormat.h"

struct gzFile_s;

/* With entryFlags, the header carries the signature that says each entry
   holds flags. */
ArchiveHeader EncodeArchiveHeader(bool entryFlags = false);
FileHeader EncodeFileHeader(const std::string &name, uint32_t size, uint16_t type,
                            uint16_t flags = 0);

/* The level that writes the archive stream bare, without gzip's framing. */
constexpr int PLAIN_STREAM = -1;

/* Writes an archive stream to a file: in gzip's format at levels 0 to 9
   (0 stores the data uncompressed, still with gzip's CRC-32 and length, so
   that a cut copy is found), or bare at PLAIN_STREAM. Velorin reads all. */
class ArchiveWriter {
public:
    ArchiveWriter() = default;
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
    /* Closes the file; false when anything written could not reach it. */
    bool Close();
    const std::string &Error() const { return error_; }

private:
    bool Fail(const std::string &what);

    gzFile_s *compressed_ = nullptr;
    std::FILE *plain_ = nullptr;
    std::string path_;
    std::string error_;
};

#endif

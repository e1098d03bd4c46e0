#ifndef TOOLS_ARCHIVE_WRITER_H
#define TOOLS_ARCHIVE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../archive/ArchiveFormat.h"

struct gzFile_s;

ArchiveHeader EncodeArchiveHeader();
FileHeader EncodeFileHeader(const std::string &name, uint32_t size, uint16_t type);

/* Writes an archive stream to a file: gzip-compressed at levels 1 to 9, or
   stored as a plain stream at level 0 (Velorin reads both). */
class ArchiveWriter {
public:
    ArchiveWriter() = default;
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;
    ~ArchiveWriter();

    bool Open(const std::string &path, int level);
    bool WriteBytes(const void *data, size_t length);
    bool WriteEntryHeader(const std::string &name, uint32_t size, uint16_t type);
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

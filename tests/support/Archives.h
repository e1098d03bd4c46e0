#ifndef TESTS_SUPPORT_ARCHIVES_H
#define TESTS_SUPPORT_ARCHIVES_H

#include <cstdint>
#include <string>
#include <vector>

/* Builds archive streams byte by byte, including malformed ones. */
class StreamBuilder
{
  public:
    /* Starts with a valid 8-byte header. */
    StreamBuilder();

    StreamBuilder &Directory(const std::string &name);
    StreamBuilder &File(const std::string &name, const std::string &data);
    StreamBuilder &Entry(const std::string &name, uint32_t size, uint16_t type);
    StreamBuilder &Raw(const std::string &bytes);

    const std::string &Bytes() const { return bytes_; }
    /* Stream offsets at which an entry begins, and the end of the stream. */
    const std::vector<size_t> &Boundaries() const { return boundaries_; }

  private:
    std::string bytes_;
    std::vector<size_t> boundaries_;
};

/* Writes a stream to path: in gzip's format at levels 0 to 9, or bare at
   PLAIN_STREAM (-1). */
void WriteArchive(const std::string &path, const std::string &stream, int level = 6);

/* Writes, in gzip's format, an archive of one file of size zero bytes: up
   to 4 GiB of data in a few megabytes, written in a moment. */
void WriteArchiveOfZeros(const std::string &path, const std::string &name, uint32_t size);

/* One gzip member holding data at the level given, in velorin-pack's block
   format: its size in the header's 'V','B' subfield, or sizeHint there
   instead when it is not 0. */
std::string MakeBlockMember(const std::string &data, int level = 6, uint32_t sizeHint = 0);

/* A stream as block members of at most blockInput bytes each. */
std::string MakeBlockFile(const std::string &stream, size_t blockInput, int level = 6);

/* The names of an archive's entries, in stream order, read with zlib;
   attributes records, which describe the entry after them, are not
   entries of their own. */
std::vector<std::string> ListArchiveNames(const std::string &path);

#endif

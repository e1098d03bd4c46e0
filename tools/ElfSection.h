#ifndef TOOLS_ELF_SECTION_H
#define TOOLS_ELF_SECTION_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

/* Reads length bytes of the file from at into into: false when they cannot
   all be read. */
using ReadFileBytes = std::function<bool(uint64_t at, void *into, size_t length)>;

/* Where the section of the given name lies in an ELF file of fileSize bytes
   (32 or 64 bits, either byte order): false when the file is no ELF file,
   its headers do not lie inside it, or it has no such section with
   contents in the file. Every offset and size is checked against the
   file's size without overflow, so a crafted file is refused, never
   followed; only the headers and the section names are read. */
bool FindElfSection(const ReadFileBytes &read, uint64_t fileSize, const char *wanted,
                    uint64_t &offset, uint64_t &size);

/* The same, for a file held whole in memory. */
bool FindElfSection(const std::vector<uint8_t> &file, const char *wanted, uint64_t &offset,
                    uint64_t &size);

#endif

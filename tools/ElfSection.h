#ifndef TOOLS_ELF_SECTION_H
#define TOOLS_ELF_SECTION_H

#include <cstdint>
#include <vector>

/* Where the section of the given name lies in an ELF file (32 or 64 bits,
   either byte order): false when the file is no ELF file, its headers do
   not lie inside it, or it has no such section with contents in the file.
   Every offset and size is checked against the file's size without
   overflow, so a crafted file is refused, never followed. */
bool FindElfSection(const std::vector<uint8_t> &file, const char *wanted, uint64_t &offset,
                    uint64_t &size);

#endif

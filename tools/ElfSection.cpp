#include "ElfSection.h"

#include <cstring>

#include <elf.h>

namespace
{

/* A field as this machine reads it, from a file of the other byte order
   when swap is set. */
template <typename Field> Field Native(Field value, bool swap)
{
    if (!swap)
        return value;
    if constexpr (sizeof(Field) == 2)
        return Field(__builtin_bswap16(uint16_t(value)));
    else if constexpr (sizeof(Field) == 4)
        return Field(__builtin_bswap32(uint32_t(value)));
    else
        return Field(__builtin_bswap64(uint64_t(value)));
}

/* Whether length bytes from at lie inside the file; nothing can wrap. */
bool Inside(const std::vector<uint8_t> &file, uint64_t at, uint64_t length)
{
    return at <= file.size() && length <= file.size() - at;
}

template <typename Record>
bool ReadRecord(const std::vector<uint8_t> &file, uint64_t at, Record &record)
{
    if (!Inside(file, at, sizeof record))
        return false;
    std::memcpy(&record, file.data() + at, sizeof record);
    return true;
}

template <typename Header, typename Section>
bool FindIn(const std::vector<uint8_t> &file, bool swap, const char *wanted, uint64_t &offset,
            uint64_t &size)
{
    Header header;
    if (!ReadRecord(file, 0, header))
        return false;
    uint64_t tableOffset = Native(header.e_shoff, swap);
    uint64_t entrySize = Native(header.e_shentsize, swap);
    uint64_t count = Native(header.e_shnum, swap);
    uint64_t namesIndex = Native(header.e_shstrndx, swap);
    /* A count or names index kept elsewhere (for 65,280 sections or more)
       is no velorin program's. */
    if (entrySize < sizeof(Section) || count == 0 || namesIndex >= count ||
        !Inside(file, tableOffset, count * entrySize))
        return false;
    Section names;
    ReadRecord(file, tableOffset + namesIndex * entrySize, names);
    uint64_t namesOffset = Native(names.sh_offset, swap);
    uint64_t namesSize = Native(names.sh_size, swap);
    if (Native(names.sh_type, swap) != SHT_STRTAB || !Inside(file, namesOffset, namesSize))
        return false;
    size_t wantedLength = std::strlen(wanted) + 1;
    for (uint64_t index = 0; index < count; index++) {
        Section section;
        ReadRecord(file, tableOffset + index * entrySize, section);
        uint64_t name = Native(section.sh_name, swap);
        if (name > namesSize || wantedLength > namesSize - name ||
            std::memcmp(file.data() + namesOffset + name, wanted, wantedLength) != 0)
            continue;
        offset = Native(section.sh_offset, swap);
        size = Native(section.sh_size, swap);
        return Native(section.sh_type, swap) != SHT_NOBITS && Inside(file, offset, size);
    }
    return false;
}

} // namespace

bool FindElfSection(const std::vector<uint8_t> &file, const char *wanted, uint64_t &offset,
                    uint64_t &size)
{
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0)
        return false;
    uint8_t order = file[EI_DATA];
    if (order != ELFDATA2LSB && order != ELFDATA2MSB)
        return false;
    bool swap = (order == ELFDATA2MSB) != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
    switch (file[EI_CLASS]) {
    case ELFCLASS64:
        return FindIn<Elf64_Ehdr, Elf64_Shdr>(file, swap, wanted, offset, size);
    case ELFCLASS32:
        return FindIn<Elf32_Ehdr, Elf32_Shdr>(file, swap, wanted, offset, size);
    default:
        return false;
    }
}

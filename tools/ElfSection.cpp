#include "ElfSection.h"

#include <cstring>
#include <string>

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
bool Inside(uint64_t fileSize, uint64_t at, uint64_t length)
{
    return at <= fileSize && length <= fileSize - at;
}

struct ElfFile {
    const ReadFileBytes &read;
    uint64_t size;
    bool swap;

    template <typename Record> bool ReadRecord(uint64_t at, Record &record) const
    {
        return Inside(size, at, sizeof record) && read(at, &record, sizeof record);
    }
};

template <typename Header, typename Section>
bool FindIn(const ElfFile &file, const char *wanted, uint64_t &offset, uint64_t &size)
{
    Header header;
    if (!file.ReadRecord(0, header))
        return false;
    uint64_t tableOffset = Native(header.e_shoff, file.swap);
    uint64_t entrySize = Native(header.e_shentsize, file.swap);
    uint64_t count = Native(header.e_shnum, file.swap);
    uint64_t namesIndex = Native(header.e_shstrndx, file.swap);
    /* A count or names index kept elsewhere (for 65,280 sections or more)
       is no velorin program's. */
    Section names;
    if (entrySize < sizeof(Section) || count == 0 || namesIndex >= count ||
        !Inside(file.size, tableOffset, count * entrySize) ||
        !file.ReadRecord(tableOffset + namesIndex * entrySize, names))
        return false;
    uint64_t namesOffset = Native(names.sh_offset, file.swap);
    uint64_t namesSize = Native(names.sh_size, file.swap);
    if (Native(names.sh_type, file.swap) != SHT_STRTAB ||
        !Inside(file.size, namesOffset, namesSize))
        return false;
    size_t wantedLength = std::strlen(wanted) + 1;
    std::string name(wantedLength, '\0');
    for (uint64_t index = 0; index < count; index++) {
        Section section;
        if (!file.ReadRecord(tableOffset + index * entrySize, section))
            return false;
        uint64_t nameAt = Native(section.sh_name, file.swap);
        if (nameAt > namesSize || wantedLength > namesSize - nameAt ||
            !file.read(namesOffset + nameAt, name.data(), wantedLength) ||
            std::memcmp(name.data(), wanted, wantedLength) != 0)
            continue;
        offset = Native(section.sh_offset, file.swap);
        size = Native(section.sh_size, file.swap);
        return Native(section.sh_type, file.swap) != SHT_NOBITS && Inside(file.size, offset, size);
    }
    return false;
}

} // namespace

bool FindElfSection(const ReadFileBytes &read, uint64_t fileSize, const char *wanted,
                    uint64_t &offset, uint64_t &size)
{
    unsigned char ident[EI_NIDENT];
    if (!Inside(fileSize, 0, sizeof ident) || !read(0, ident, sizeof ident) ||
        std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return false;
    uint8_t order = ident[EI_DATA];
    if (order != ELFDATA2LSB && order != ELFDATA2MSB)
        return false;
    ElfFile file{read, fileSize,
                 (order == ELFDATA2MSB) != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)};
    switch (ident[EI_CLASS]) {
    case ELFCLASS64:
        return FindIn<Elf64_Ehdr, Elf64_Shdr>(file, wanted, offset, size);
    case ELFCLASS32:
        return FindIn<Elf32_Ehdr, Elf32_Shdr>(file, wanted, offset, size);
    default:
        return false;
    }
}

bool FindElfSection(const std::vector<uint8_t> &file, const char *wanted, uint64_t &offset,
                    uint64_t &size)
{
    auto read = [&file](uint64_t at, void *into, size_t length) {
        std::memcpy(into, file.data() + at, length);
        return true;
    };
    return FindElfSection(read, file.size(), wanted, offset, size);
}

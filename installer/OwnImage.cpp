#include "Installer.h"

#include <cstring>

#include <elf.h>
#include <link.h>
#include <sys/auxv.h>

/* The running program as the system loaded it: its program headers say
   which bytes of its file lie where in memory. The ELF header is loaded
   with the first segment; the linker names its place. */
extern "C" const ElfW(Ehdr) __ehdr_start;

namespace
{

struct LoadedSegments {
    const ElfW(Phdr) *headers = nullptr;
    size_t count = 0;
    /* Memory address minus virtual address. */
    uintptr_t bias = 0;
};

bool FindLoadedSegments(LoadedSegments &segments)
{
    segments.headers = reinterpret_cast<const ElfW(Phdr) *>(getauxval(AT_PHDR));
    segments.count = size_t(getauxval(AT_PHNUM));
    if (segments.headers == nullptr || segments.count == 0)
        return false;
    for (size_t i = 0; i < segments.count; i++) {
        const ElfW(Phdr) &header = segments.headers[i];
        if (header.p_type == PT_LOAD && header.p_offset == 0) {
            segments.bias = reinterpret_cast<uintptr_t>(&__ehdr_start) - header.p_vaddr;
            return true;
        }
    }
    return false;
}

} // namespace

bool DescribeOwnImage(const volatile void *slot, OwnImage &image)
{
    LoadedSegments segments;
    if (!FindLoadedSegments(segments))
        return false;
    uintptr_t slotAddress = reinterpret_cast<uintptr_t>(slot) - segments.bias;
    bool slotFound = false;
    image = {};
    for (size_t i = 0; i < segments.count; i++) {
        const ElfW(Phdr) &header = segments.headers[i];
        if (header.p_type != PT_LOAD)
            continue;
        uint64_t end = uint64_t(header.p_offset) + header.p_filesz;
        if (end > image.loadedEnd)
            image.loadedEnd = end;
        if (slotAddress >= header.p_vaddr && slotAddress - header.p_vaddr < header.p_filesz) {
            image.slotOffset = header.p_offset + (slotAddress - header.p_vaddr);
            slotFound = true;
        }
        /* Segments that the program never writes hold the file's bytes as
           they are; relocations only touch writable ones. */
        if ((header.p_flags & PF_W) == 0 && (header.p_flags & PF_R) != 0 && header.p_filesz > 0)
            image.unchanged.push_back(
                {header.p_offset, header.p_filesz,
                 reinterpret_cast<const uint8_t *>(segments.bias + header.p_vaddr)});
    }
    return slotFound;
}

const char *GetExecutedPath()
{
    return reinterpret_cast<const char *>(getauxval(AT_EXECFN));
}

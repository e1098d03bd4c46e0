#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <elf.h>
#include <endian.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "../format/InstallerLayout.h"

#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

template <typename Record> Record ReadAt(const std::string &bytes, uint64_t at)
{
    Record record;
    std::memcpy(&record, bytes.data() + at, sizeof record);
    return record;
}

template <typename Record> void WriteAt(std::string &bytes, uint64_t at, const Record &record)
{
    std::memcpy(bytes.data() + at, &record, sizeof record);
}

/* Each crafted stub, the velorin program (a 64-bit ELF file of this
   machine's byte order) with its header, its slot's section header or its
   names' section header changed, or cut short, is refused as no velorin
   program: exit status 1, never a signal, and nothing left beside it. */
TEST(CraftedStub, HeadersThatLieAreRefusedWithoutFollowingThem)
{
    TempDir dir;
    mkdir((dir / "src").c_str(), 0777);
    WriteFile(dir / "src/setup.sh", "true\n");
    const std::string program = ReadFile(VELORIN_BINARY);
    const auto header = ReadAt<Elf64_Ehdr>(program, 0);
    auto sectionAt = [&](unsigned index) { return header.e_shoff + index * header.e_shentsize; };
    const uint64_t namesAt = sectionAt(header.e_shstrndx);
    const auto names = ReadAt<Elf64_Shdr>(program, namesAt);
    uint64_t slotAt = 0;
    for (unsigned index = 0; index < header.e_shnum; index++)
        if (program.compare(names.sh_offset + ReadAt<Elf64_Shdr>(program, sectionAt(index)).sh_name,
                            sizeof INSTALLER_SECTION, INSTALLER_SECTION,
                            sizeof INSTALLER_SECTION) == 0)
            slotAt = sectionAt(index);
    ASSERT_NE(slotAt, 0u) << "no installer section in " << VELORIN_BINARY;
    const auto slot = ReadAt<Elf64_Shdr>(program, slotAt);

    const uint64_t top = ~uint64_t(0);
    const struct {
        const char *what;
        std::function<void(Elf64_Ehdr &, Elf64_Shdr &slot, Elf64_Shdr &names)> change;
        size_t kept = 0;
    } crafts[] = {
        /* Its end wraps round to just past the slot's size. */
        {"the slot's offset near 2^64",
         [](Elf64_Ehdr &, Elf64_Shdr &s, Elf64_Shdr &) {
             s.sh_offset = top - 0xFFFFFFFF;
             s.sh_size = uint64_t(1) << 32 | INSTALLER_SLOT_SIZE;
         }},
        {"the slot's size wrapping past 2^64",
         [](Elf64_Ehdr &, Elf64_Shdr &s, Elf64_Shdr &) {
             s.sh_size = ~s.sh_offset + 1 + INSTALLER_SLOT_SIZE;
         }},
        {"the section table past the end",
         [&](Elf64_Ehdr &h, Elf64_Shdr &, Elf64_Shdr &) { h.e_shoff = program.size() - 32; }},
        {"the section table's offset near 2^64",
         [](Elf64_Ehdr &h, Elf64_Shdr &, Elf64_Shdr &) { h.e_shoff = top - 15; }},
        {"the names' index out of range",
         [](Elf64_Ehdr &h, Elf64_Shdr &, Elf64_Shdr &) { h.e_shstrndx = h.e_shnum + 3; }},
        {"the names' offset near 2^64",
         [](Elf64_Ehdr &, Elf64_Shdr &, Elf64_Shdr &n) { n.sh_offset = top; }},
        {"section headers of one byte",
         [](Elf64_Ehdr &h, Elf64_Shdr &, Elf64_Shdr &) { h.e_shentsize = 1; }},
        {"the file cut inside its section table", [](Elf64_Ehdr &, Elf64_Shdr &, Elf64_Shdr &) {},
         header.e_shoff + 100},
        {"the file cut inside its first header", [](Elf64_Ehdr &, Elf64_Shdr &, Elf64_Shdr &) {},
         40},
    };
    for (const auto &craft : crafts) {
        SCOPED_TRACE(craft.what);
        std::string bytes = program;
        Elf64_Ehdr craftedHeader = header;
        Elf64_Shdr craftedSlot = slot, craftedNames = names;
        craft.change(craftedHeader, craftedSlot, craftedNames);
        WriteAt(bytes, 0, craftedHeader);
        WriteAt(bytes, slotAt, craftedSlot);
        WriteAt(bytes, namesAt, craftedNames);
        if (craft.kept != 0)
            bytes.resize(craft.kept);
        WriteFile(dir / "stub", bytes);
        RunResult result = RunPack(
            {dir / "src", dir / "app.run", "-installer", "-stub", dir / "stub", "-run", "true"});
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find(dir / "stub is not a velorin program"), std::string::npos)
            << result.err;
        EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"src", "stub"}));
        std::filesystem::remove(dir / "app.run");
    }
}

/* A stub for another machine, 32-bit and big-endian, is found as well:
   headers, the empty slot, the names, then the section table. */
TEST(CraftedStub, BigEndianThirtyTwoBitStubBeginsAnInstaller)
{
    const uint8_t marker[] = {INSTALLER_SLOT_MARKER_BYTES};
    std::string slot(INSTALLER_SLOT_SIZE, '\0');
    std::memcpy(slot.data(), marker, sizeof marker);
    slot[19] = char(INSTALLER_LAYOUT_VERSION);
    const std::string names = std::string("\0" INSTALLER_SECTION "\0.shstrtab\0", 30);
    const uint32_t slotAt = sizeof(Elf32_Ehdr), namesAt = slotAt + uint32_t(slot.size()),
                   tableAt = (namesAt + uint32_t(names.size()) + 3) / 4 * 4;

    Elf32_Ehdr header = {};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS32;
    header.e_ident[EI_DATA] = ELFDATA2MSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = htobe16(ET_EXEC);
    header.e_machine = htobe16(EM_PPC);
    header.e_version = htobe32(EV_CURRENT);
    header.e_ehsize = htobe16(sizeof(Elf32_Ehdr));
    header.e_shoff = htobe32(tableAt);
    header.e_shentsize = htobe16(sizeof(Elf32_Shdr));
    header.e_shnum = htobe16(3);
    header.e_shstrndx = htobe16(2);
    Elf32_Shdr table[3] = {};
    table[1].sh_name = htobe32(1);
    table[1].sh_type = htobe32(SHT_PROGBITS);
    table[1].sh_offset = htobe32(slotAt);
    table[1].sh_size = htobe32(uint32_t(slot.size()));
    table[2].sh_name = htobe32(2 + sizeof INSTALLER_SECTION - 1);
    table[2].sh_type = htobe32(SHT_STRTAB);
    table[2].sh_offset = htobe32(namesAt);
    table[2].sh_size = htobe32(uint32_t(names.size()));

    std::string bytes(tableAt + sizeof table, '\0');
    WriteAt(bytes, 0, header);
    bytes.replace(slotAt, slot.size(), slot);
    bytes.replace(namesAt, names.size(), names);
    WriteAt(bytes, tableAt, table);

    TempDir dir;
    mkdir((dir / "src").c_str(), 0777);
    WriteFile(dir / "src/setup.sh", "true\n");
    WriteFile(dir / "stub", bytes);
    RunResult result = RunPack(
        {dir / "src", dir / "app.run", "-installer", "-stub", dir / "stub", "-run", "true"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::string made = ReadFile(dir / "app.run");
    EXPECT_EQ(made.compare(0, slotAt, bytes, 0, slotAt), 0) << "the stub's headers changed";
    EXPECT_EQ(made.substr(slotAt + 20, 4), std::string("\0\0\0\1", 4)) << "the slot is not filled";
}

} // namespace

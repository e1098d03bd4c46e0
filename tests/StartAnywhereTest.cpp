#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <elf.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace {

/* What users get: the programs as installed, not the test build. */
const std::vector<std::string> shippedPrograms = {VELORIN_SHIPPED_BINARY, VELORIN_PACK_BINARY};

/* What the ELF file asks of the machine before main: whether it names a
   program interpreter, how many shared libraries its dynamic section names
   (a static position-independent program has that section only to relocate
   itself), and the oldest kernel its C library supports (from the GNU ABI
   note). */
struct StartNeeds {
    bool interpreter = false;
    int sharedLibraries = 0;
    unsigned kernel[3] = {0, 0, 0};
    bool kernelNoted = false;
};

StartNeeds ReadStartNeeds(const std::string &path)
{
    std::string image = ReadFile(path);
    StartNeeds needs;
    Elf64_Ehdr header;
    if (image.size() < sizeof header || image.compare(0, SELFMAG, ELFMAG) != 0 ||
        image[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << path << " is not a 64-bit ELF file";
        return needs;
    }
    std::memcpy(&header, image.data(), sizeof header);
    for (unsigned index = 0; index < header.e_phnum; index++) {
        Elf64_Phdr segment;
        size_t at = header.e_phoff + size_t(index) * header.e_phentsize;
        if (at + sizeof segment > image.size())
            break;
        std::memcpy(&segment, image.data() + at, sizeof segment);
        needs.interpreter |= segment.p_type == PT_INTERP;
        if (segment.p_type == PT_DYNAMIC && segment.p_offset + segment.p_filesz <= image.size()) {
            for (size_t entry = segment.p_offset; entry + sizeof(Elf64_Dyn) <= segment.p_offset + segment.p_filesz;
                 entry += sizeof(Elf64_Dyn)) {
                Elf64_Dyn dynamic;
                std::memcpy(&dynamic, image.data() + entry, sizeof dynamic);
                needs.sharedLibraries += dynamic.d_tag == DT_NEEDED;
            }
        }
        if (segment.p_type != PT_NOTE || segment.p_offset + segment.p_filesz > image.size())
            continue;
        for (size_t note = segment.p_offset; note + sizeof(Elf64_Nhdr) <= segment.p_offset + segment.p_filesz;) {
            Elf64_Nhdr noteHeader;
            std::memcpy(&noteHeader, image.data() + note, sizeof noteHeader);
            size_t name = note + sizeof noteHeader;
            size_t description = name + ((noteHeader.n_namesz + 3) & ~3u);
            if (noteHeader.n_type == NT_GNU_ABI_TAG && noteHeader.n_namesz == 4 &&
                image.compare(name, 4, std::string("GNU\0", 4)) == 0 && noteHeader.n_descsz == 16) {
                unsigned words[4];
                std::memcpy(words, image.data() + description, sizeof words);
                needs.kernelNoted = words[0] == ELF_NOTE_OS_LINUX;
                std::memcpy(needs.kernel, words + 1, sizeof needs.kernel);
            }
            note = description + ((noteHeader.n_descsz + 3) & ~3u);
        }
    }
    return needs;
}

/* A root holding nothing but the shipped programs, /dev/null and what the
   test puts there. */
class EmptyRoot {
public:
    EmptyRoot()
    {
        for (const char *folder : {"dev", "bin"})
            mkdir((dir_ / folder).c_str(), 0755);
        made_ = mknod((dir_ / "dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
        for (const std::string &program : shippedPrograms) {
            std::string copy = dir_ / ("bin/" + program.substr(program.rfind('/') + 1));
            WriteFile(copy, ReadFile(program));
            made_ &= chmod(copy.c_str(), 0755) == 0;
        }
    }

    bool IsMade() const { return made_; }
    const std::string &Path() const { return dir_.Path(); }
    std::string operator/(const std::string &name) const { return dir_ / name; }

    /* Runs a command (its path inside the root) with the root as /. */
    RunResult Run(const std::vector<std::string> &command, const RunOptions &options = {}) const
    {
        std::vector<std::string> args = {dir_.Path()};
        args.insert(args.end(), command.begin(), command.end());
        return RunProgram(FindTool("chroot"), args, options);
    }

private:
    TempDir dir_;
    bool made_ = false;
};

/* The sanitized build links the shared libraries, as its runtime needs. */
#define REQUIRE_STATIC_BUILD()                                                 \
    if (!VELORIN_STATIC_PROGRAMS)                                              \
        GTEST_SKIP() << "this build links the shared libraries"

#define REQUIRE_ROOT()                                                         \
    if (geteuid() != 0) {                                                      \
        if (AreLiveTestsRequired())                                            \
            FAIL() << "needs root, to make a root of its own";                 \
        GTEST_SKIP() << "needs root, to make a root of its own";               \
    }

/* Nothing stands between exec and main: no interpreter to find, no shared
   library to load, and a C library that starts on any kernel from 3.2 on. */
TEST(StartAnywhere, ShippedProgramsAreStatic)
{
    REQUIRE_STATIC_BUILD();
    for (const std::string &program : shippedPrograms) {
        StartNeeds needs = ReadStartNeeds(program);
        EXPECT_FALSE(needs.interpreter) << program << " names a program interpreter";
        EXPECT_EQ(needs.sharedLibraries, 0) << program << " needs shared libraries";
        ASSERT_TRUE(needs.kernelNoted) << program << " says nothing of the kernel it needs";
        EXPECT_LE(needs.kernel[0] * 10000 + needs.kernel[1] * 100 + needs.kernel[2], 30200u)
            << program << " needs Linux " << needs.kernel[0] << "." << needs.kernel[1];
    }
}

/* Nothing is loaded at run time either: no dlopen, and none of the name
   services (users, groups, host names) that a static C library can only
   reach by loading their modules. The linker's map of each program tells
   which symbol brought each library member in; the C library's own start-up
   brings its loader in under internal names, which no call of ours reaches. */
TEST(StartAnywhere, ShippedProgramsLoadNothingAtRunTime)
{
    REQUIRE_STATIC_BUILD();
    const std::set<std::string> loaders = {
        "dlopen", "dlmopen", "getaddrinfo", "gethostbyname", "gethostbyname2", "gethostbyname_r",
        "gethostbyname2_r", "gethostbyaddr", "getnameinfo", "getpwnam", "getpwuid", "getpwnam_r",
        "getpwuid_r", "getgrnam", "getgrgid", "getgrnam_r", "getgrgid_r", "getservbyname",
        "getservbyname_r", "initgroups", "getgrouplist", "iconv_open"};
    for (const std::string &map : {std::string(VELORIN_SHIPPED_BINARY) + ".map",
                                   std::string(VELORIN_PACK_BINARY) + ".map"}) {
        std::string text = ReadFile(map);
        size_t begin = text.find("Archive member included to satisfy reference by file (symbol)");
        size_t end = text.find("\n\n", text.find("\n\n", begin) + 2);
        ASSERT_NE(begin, std::string::npos) << map << " lists no library members";
        std::istringstream lines(text.substr(begin, end - begin));
        int members = 0;
        for (std::string line; std::getline(lines, line);) {
            size_t open = line.rfind(" (");
            if (line.empty() || line.back() != ')' || open == std::string::npos)
                continue;
            members++;
            std::string symbol = line.substr(open + 2, line.size() - open - 3);
            EXPECT_FALSE(loaders.count(symbol) || symbol.rfind("__nss_", 0) == 0)
                << map << ": a library member is linked in for " << symbol << ": " << line;
        }
        EXPECT_GT(members, 10) << map << " could not be read";
    }
}

/* Packed and unpacked in a root that holds only the programs, the tree and
   /dev/null: no C library, no loader, no terminfo, no locale files. */
TEST(StartAnywhere, RoundTripInAnEmptyRoot)
{
    REQUIRE_STATIC_BUILD();
    REQUIRE_ROOT();
    REQUIRE_LIVE_TOOLS("chroot");
    EmptyRoot root;
    ASSERT_TRUE(root.IsMade());
    std::string data = MakeData(200000, 3);
    ASSERT_EQ(mkdir((root / "tree").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root / "tree/lib").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root / "out").c_str(), 0755), 0);
    WriteFile(root / "tree/lib/data.bin", data);
    WriteFile(root / "tree/run", "#!/bin/sh\n");
    ASSERT_EQ(chmod((root / "tree/run").c_str(), 0755), 0);

    RunResult packed = root.Run({"/bin/velorin-pack", "/tree", "/pkg.gz"});
    ASSERT_EQ(packed.exitCode, 0) << packed.out << packed.err;
    RunOptions options;
    options.environment["TERM"] = "xterm";
    options.environment["LANG"] = "C.UTF-8";
    RunResult result = root.Run({"/bin/velorin", "-archive", "/pkg.gz", "-dest", "/out"}, options);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(SnapshotTree(root / "out"), SnapshotTree(root / "tree"));
    EXPECT_EQ(access((root / "out/run").c_str(), X_OK), 0);

    /* A damaged copy is still refused there, with nothing written. */
    std::string damaged = ReadFile(root / "pkg.gz");
    damaged[damaged.size() / 2] ^= 0x40;
    WriteFile(root / "damaged.gz", damaged);
    ASSERT_EQ(mkdir((root / "other").c_str(), 0755), 0);
    RunResult refused = root.Run({"/bin/velorin", "-archive", "/damaged.gz", "-dest", "/other"});
    EXPECT_EQ(refused.exitCode, 0) << refused.err;
    EXPECT_TRUE(SnapshotTree(root / "other").empty());
}

/* The desktop window from the empty root, reached through the display's
   socket alone: host names are not looked up, nothing is loaded. */
TEST(StartAnywhere, DesktopWindowFromAnEmptyRoot)
{
    REQUIRE_STATIC_BUILD();
    REQUIRE_ROOT();
    REQUIRE_LIVE_TOOLS("chroot", "Xvfb", "xdotool", "timeout");
    EmptyRoot root;
    ASSERT_TRUE(root.IsMade());
    VirtualDisplay display;
    ASSERT_TRUE(display.IsRunning());
    std::string socket = "/tmp/.X11-unix/X" + display.Name().substr(1);
    ASSERT_EQ(mkdir((root / "tmp").c_str(), 01777), 0);
    ASSERT_EQ(mkdir((root / "tmp/.X11-unix").c_str(), 01777), 0);
    ASSERT_EQ(link(socket.c_str(), (root / socket.substr(1)).c_str()), 0) << socket;
    /* Large enough to keep the window up while it is looked for. */
    WriteArchive(root / "pkg.gz", StreamBuilder().File("big", MakeData(32 << 20, 5)).Bytes(), 1);
    ASSERT_EQ(mkdir((root / "out").c_str(), 0755), 0);

    RunOptions options;
    options.environment["DISPLAY"] = display.Name();
    BackgroundProgram velorin(FindTool("chroot"),
                              {root.Path(), "/bin/velorin", "-archive", "/pkg.gz", "-dest", "/out"},
                              options);
    std::string found = RunTool({"timeout", "30", "xdotool", "search", "--sync", "--onlyvisible",
                                 "--name", "^Unpacking\\.\\.\\.$"},
                                {{"DISPLAY", display.Name()}});
    EXPECT_FALSE(found.empty()) << "no window showed";
    RunResult result = velorin.Finish(120);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "") << "the desktop was not used";
}

/* The velorin that users run obeys none of the test controls: with every
   one of them set as a test would, it unpacks as if none were, and writes no
   report. The test build, given the same, shows they would take effect. */
TEST(StartAnywhere, ShippedVelorinIgnoresTestControls)
{
    std::string binary = ReadFile(VELORIN_SHIPPED_BINARY);
    EXPECT_EQ(binary.find("VELORIN_HOST_"), std::string::npos)
        << "the shipped velorin names a test control";

    TempDir dir;
    std::string data = MakeData(100000, 4);
    WriteArchive(dir / "pkg.gz", StreamBuilder().Directory("d").File("d/f", data).Bytes());
    RunOptions options;
    options.environment = {
        {"VELORIN_HOST_LIBRARIES", "dos.library=missing,intuition.library=35"},
        {"VELORIN_HOST_CLOCK", "instant"},
        {"VELORIN_HOST_BALANCE_REPORT", dir / "report"},
        {"VELORIN_HOST_PRESENTATION", "terminal"},
        {"VELORIN_HOST_SCREEN", "100x50"},
        {"VELORIN_HOST_INSTALLER_SCREEN", "100x50"},
        {"VELORIN_HOST_FAIL", "LockPubScreen,OpenWindowTags,fclose,openat2"},
        {"VELORIN_HOST_ABORT_AT", "1"},
        {"VELORIN_HOST_ANSWER", "Yes"},
    };
    for (const char *kind : {"shipped", "testable"}) {
        bool shipped = std::strcmp(kind, "shipped") == 0;
        std::string out = dir / (std::string("out-") + kind);
        ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
        RunResult result = RunProgram(shipped ? VELORIN_SHIPPED_BINARY : VELORIN_BINARY,
                                      {"-archive", dir / "pkg.gz", "-dest", out}, options);
        if (shipped) {
            EXPECT_EQ(result.exitCode, 1) << result.err;
            EXPECT_TRUE(ReadFile(out + "/d/f") == data);
            EXPECT_NE(access((dir / "report").c_str(), F_OK), 0) << "a report was written";
        } else {
            EXPECT_EQ(result.exitCode, 20) << "the test build ignored its controls: " << result.err;
            EXPECT_EQ(access((out + "/d").c_str(), F_OK), -1);
        }
    }
}

}  // namespace

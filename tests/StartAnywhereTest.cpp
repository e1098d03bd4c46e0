#include <cstring>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* What users get: the programs as installed, not the test build. */
const std::vector<std::string> shippedPrograms = {VELORIN_SHIPPED_BINARY, VELORIN_PACK_BINARY};

/* A root holding only the shipped programs, /dev/null and what a test adds. */
class EmptyRoot
{
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
#define REQUIRE_STATIC_BUILD()                                                                     \
    if (!VELORIN_STATIC_PROGRAMS)                                                                  \
    GTEST_SKIP() << "this build links the shared libraries"

#define REQUIRE_ROOT()                                                                             \
    if (geteuid() != 0) {                                                                          \
        if (AreLiveTestsRequired())                                                                \
            FAIL() << "needs root, to make a root of its own";                                     \
        GTEST_SKIP() << "needs root, to make a root of its own";                                   \
    }

/* No interpreter, no shared library, a C library that starts on Linux 3.2, and
   no dlopen or name services, which a static C library loads at run time: the
   linker's map tells which symbol brought each library member in. */
TEST(StartAnywhere, ShippedProgramsAreStaticAndLoadNothingAtRunTime)
{
    REQUIRE_STATIC_BUILD();
    REQUIRE_LIVE_TOOLS("readelf");
    const std::regex abi("OS: Linux, ABI: ([0-9]+)\\.([0-9]+)\\.([0-9]+)");
    for (const std::string &program : shippedPrograms) {
        std::string shown =
            RunTool({"readelf", "--wide", "--program-headers", "--dynamic", "--notes", program});
        EXPECT_EQ(shown.find("program interpreter"), std::string::npos) << program << " names one";
        EXPECT_EQ(shown.find("(NEEDED)"), std::string::npos)
            << program << " needs shared libraries";
        std::smatch kernel;
        ASSERT_TRUE(std::regex_search(shown, kernel, abi)) << program << " names no oldest kernel";
        EXPECT_LE(std::stoi(kernel[1]) * 10000 + std::stoi(kernel[2]) * 100 + std::stoi(kernel[3]),
                  30200)
            << program << " needs Linux " << kernel[1] << "." << kernel[2];
    }

    const std::set<std::string> loaders = {
        "dlopen",          "dlmopen",          "getaddrinfo",   "gethostbyname",   "gethostbyname2",
        "gethostbyname_r", "gethostbyname2_r", "gethostbyaddr", "getnameinfo",     "getpwnam",
        "getpwuid",        "getpwnam_r",       "getpwuid_r",    "getgrnam",        "getgrgid",
        "getgrnam_r",      "getgrgid_r",       "getservbyname", "getservbyname_r", "initgroups",
        "getgrouplist",    "iconv_open"};
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

/* No C library, loader, terminfo or locale files in the root. */
TEST(StartAnywhere, RoundTripInAnEmptyRoot)
{
    REQUIRE_STATIC_BUILD();
    REQUIRE_ROOT();
    REQUIRE_LIVE_TOOLS("chroot");
    EmptyRoot root;
    ASSERT_TRUE(root.IsMade());
    std::string data = MakeData(200000, 3);
    for (const char *folder : {"tree", "tree/lib", "out"})
        ASSERT_EQ(mkdir((root / folder).c_str(), 0755), 0);
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
}

/* The window reaches the display through its socket alone. */
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
    /* Stored and large, so that the window stays up while it is looked for
       however fast blocks are inflated. */
    WriteArchive(root / "pkg.gz", StreamBuilder().File("big", MakeData(160 << 20, 5)).Bytes(), 0);
    ASSERT_EQ(mkdir((root / "out").c_str(), 0755), 0);

    RunOptions options;
    options.environment["DISPLAY"] = display.Name();
    BackgroundProgram velorin(FindTool("chroot"),
                              {root.Path(), "/bin/velorin", "-archive", "/pkg.gz", "-dest", "/out"},
                              options);
    /* Looked for every 20 ms: xdotool's own waiting looks only twice a
       second, and the window may be up for less. */
    std::string found;
    for (int attempt = 0; attempt < 1500 && found.empty(); attempt++) {
        found = RunTool({"xdotool", "search", "--onlyvisible", "--name", "^Unpacking\\.\\.\\.$"},
                        {{"DISPLAY", display.Name()}});
        if (found.empty())
            usleep(20000);
    }
    EXPECT_FALSE(found.empty()) << "no window showed";
    RunResult result = velorin.Finish(120);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "") << "the desktop was not used";
}

/* The shipped velorin ignores every test control, which the test build obeys. */
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

} // namespace

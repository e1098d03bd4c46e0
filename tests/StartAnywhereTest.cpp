#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/SharedLibrary.h"
#include "support/TempDir.h"

namespace {

/* velorin needs nothing but the C library at start: ISA-L is loaded when it
   is installed, and a machine without it reads archives with zlib, with the
   same checks. The library is hidden by an empty file mounted over it, in a
   mount namespace of the run's own. */
TEST(StartAnywhere, ReadsWithZlibWhereIsalIsMissing)
{
    std::string library = FindSharedLibrary("libisal.so.2");
    if (geteuid() != 0 || FindTool("unshare").empty() || library.empty()) {
        if (AreLiveTestsRequired())
            FAIL() << "needs root, unshare and ISA-L installed";
        GTEST_SKIP() << "needs root, unshare and ISA-L installed";
    }
    TempDir dir;
    std::string data = MakeData(300000, 9);
    WriteArchive(dir / "pkg.gz", StreamBuilder().Directory("d").File("d/f", data).Bytes());
    std::string damaged = ReadFile(dir / "pkg.gz");
    damaged[damaged.size() - 6] ^= 0x01;
    WriteFile(dir / "damaged.gz", damaged);
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir / "other").c_str(), 0777), 0);

    RunOptions options;
    options.environment["VELORIN_HOST_PRESENTATION"] = "headless";
    auto runHidden = [&](const std::string &archive, const std::string &dest) {
        return RunProgram(FindTool("unshare"),
                          {"-m", "sh", "-c", "mount --bind /dev/null \"$0\" && exec \"$@\"",
                           library, VELORIN_BINARY, "-archive", archive, "-dest", dest},
                          options);
    };
    RunResult result = runHidden(dir / "pkg.gz", dir / "out");
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(ReadFile(dir / "out/d/f") == data);
    /* The CRC-32 is still checked: a damaged trailer is refused. */
    RunResult refused = runHidden(dir / "damaged.gz", dir / "other");
    EXPECT_EQ(refused.exitCode, 0) << refused.err;
    EXPECT_FALSE(refused.err.empty());
    EXPECT_EQ(access((dir / "other/d").c_str(), F_OK), -1);
}

}  // namespace

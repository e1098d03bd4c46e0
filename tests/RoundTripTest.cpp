#include <algorithm>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* The snapshot without the special files and the links that velorin-pack
   leaves out, each with a warning. */
TreeSnapshot PackableTree(const std::string &root, const std::string &warnings)
{
    TreeSnapshot tree = SnapshotTree(root);
    for (auto it = tree.begin(); it != tree.end();) {
        struct stat info;
        lstat((root + "/" + it->first).c_str(), &info);
        bool skipped = S_ISLNK(info.st_mode) && warnings.find("skipping symbolic link " +
                                                              it->first + ":") != std::string::npos;
        bool packable = S_ISDIR(info.st_mode) || S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
        it = packable && !skipped ? std::next(it) : tree.erase(it);
    }
    /* Whatever lies below a skipped link to a directory went with it. */
    for (auto it = tree.begin(); it != tree.end();) {
        size_t slash = it->first.rfind('/');
        bool parentKept = slash == std::string::npos || tree.count(it->first.substr(0, slash));
        it = parentKept ? std::next(it) : tree.erase(it);
    }
    return tree;
}

void ExpectRoundTrip(const std::string &source, const std::string &level)
{
    TempDir dir;
    RunResult pack = RunPack({source, dir / "pkg.gz", "-level", level});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    mkdir((dir / "out").c_str(), 0777);
    RunResult unpack = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
    ASSERT_EQ(unpack.exitCode, 1) << unpack.err;
    EXPECT_EQ(unpack.err, "");
    TreeSnapshot expected = PackableTree(source, pack.err);
    TreeSnapshot unpacked = SnapshotTree(dir / "out");
    EXPECT_EQ(unpacked.size(), expected.size());
    auto [left, right] =
        std::mismatch(unpacked.begin(), unpacked.end(), expected.begin(), expected.end());
    EXPECT_TRUE(left == unpacked.end() && right == expected.end())
        << "first difference from " << source << ": "
        << (left != unpacked.end() ? "unpacked " + left->first : std::string("nothing unpacked"))
        << " against "
        << (right != expected.end() ? right->first : std::string("nothing expected"));
}

TEST(RoundTrip, SampleAndSystemHeaderTreesComeBackByteForByte)
{
    ExpectRoundTrip(VELORIN_SAMPLE_DIR, "9");
    ExpectRoundTrip(VELORIN_SAMPLE_DIR, "0");
    struct stat info;
    if (stat("/usr/include", &info) != 0)
        GTEST_SKIP() << "no /usr/include on this machine";
    ExpectRoundTrip("/usr/include", "1");
}

} // namespace

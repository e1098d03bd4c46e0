#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* The signature and flag as the format documents them, spelled out here so
   that archives already written keep their meaning. */
const std::string signature = "\x56\x6C\x46\x58\xB1\xE7";
const std::string executableFlag = std::string("\0\1", 2);

mode_t ModeOf(const std::string &path)
{
    struct stat info = {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

/* A stream whose header's bytes 2 to 7 are headerTail, holding file entries
   of data whose bytes 262 and 263 are the given pairs. */
std::string StreamWith(const std::string &headerTail,
                       const std::vector<std::pair<std::string, std::string>> &files,
                       const std::string &data = "#!/bin/sh\n")
{
    std::string stream = StreamBuilder().Bytes().substr(0, 2) + headerTail;
    for (const auto &[name, entryTail] : files) {
        std::string entry = StreamBuilder().File(name, data).Bytes().substr(8);
        entry.replace(262, 2, entryTail);
        stream += entry;
    }
    return stream;
}

class ExecutableFlag : public ::testing::Test
{
  protected:
    void SetUp() override { mkdir((dir_ / "out").c_str(), 0777); }

    void Unpack(const std::string &stream)
    {
        WriteArchive(dir_ / "pkg.gz", stream);
        RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"});
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err, "");
    }

    TempDir dir_;
};

TEST_F(ExecutableFlag, PackedProgramsComeBackExecutableAndOtherFilesDoNot)
{
    UmaskScope mask(022);
    std::string src = dir_ / "src";
    mkdir(src.c_str(), 0755);
    WriteFile(src + "/run", "#!/bin/sh\n");
    WriteFile(src + "/data", "d");
    WriteFile(src + "/private", "p");
    chmod((src + "/run").c_str(), 0755);
    chmod((src + "/data").c_str(), 0644);
    chmod((src + "/private").c_str(), 0700);
    RunResult pack = RunPack({src, dir_ / "pkg.gz"});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    RunResult unpack = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"});
    ASSERT_EQ(unpack.exitCode, 1) << unpack.err;
    /* Each file comes back with its own mode, limited by the umask. */
    EXPECT_EQ(ModeOf(dir_ / "out/run"), 0755u);
    EXPECT_EQ(ModeOf(dir_ / "out/private"), 0700u);
    EXPECT_EQ(ModeOf(dir_ / "out/data"), 0644u);
}

TEST_F(ExecutableFlag, UnpackedUnderAStrictUmaskAProgramIsTheOwnersAlone)
{
    UmaskScope mask(077);
    Unpack(StreamWith(signature, {{"run", executableFlag}, {"data", std::string(2, '\0')}}));
    EXPECT_EQ(ModeOf(dir_ / "out/run"), 0700u);
    EXPECT_EQ(ModeOf(dir_ / "out/data"), 0600u);
}

TEST_F(ExecutableFlag, AReplacedFileTakesANewFilesModeAndItsOtherNamesStayAsTheyWere)
{
    UmaskScope mask(022);
    WriteFile(dir_ / "outside", "old");
    chmod((dir_ / "outside").c_str(), 0640);
    ASSERT_EQ(link((dir_ / "outside").c_str(), (dir_ / "out/run").c_str()), 0);
    WriteFile(dir_ / "out/data", "old");
    WriteFile(dir_ / "out/tool", "old");
    chmod((dir_ / "out/data").c_str(), 0751);
    chmod((dir_ / "out/tool").c_str(), 04750);
    Unpack(StreamWith(
        signature,
        {{"run", executableFlag}, {"data", std::string(2, '\0')}, {"tool", executableFlag}}));
    EXPECT_EQ(ReadFile(dir_ / "outside"), "old");
    EXPECT_EQ(ModeOf(dir_ / "outside"), 0640u);
    EXPECT_EQ(ModeOf(dir_ / "out/run"), 0755u);
    EXPECT_EQ(ModeOf(dir_ / "out/data"), 0644u);
    /* A program replaced by an archive's file is no longer set-user-ID. */
    EXPECT_EQ(ModeOf(dir_ / "out/tool"), 0755u);
}

TEST_F(ExecutableFlag, APartlyWrittenProgramIsNotExecutable)
{
    UmaskScope mask(022);
    /* Cut short by a file size limit. */
    WriteArchive(dir_ / "pkg.gz",
                 StreamWith(signature, {{"run", executableFlag}}, std::string(200000, 'p')));
    RunOptions options;
    options.fileSizeLimit = 100000;
    RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Error writing to run: File too large\n");
    EXPECT_EQ(ModeOf(dir_ / "out/run"), 0644u);
}

TEST_F(ExecutableFlag, WithoutTheSignatureTheEntriesLastBytesMeanNothing)
{
    UmaskScope mask(022);
    /* Other writers' headers: zeros, text, and the signature with one byte
       wrong; their entries' last bytes: every bit set, and random values. */
    const std::string headers[] = {std::string(6, '\0'), "VELORI", signature.substr(0, 5) + "\xE6",
                                   "\xFF\xFF\xFF\xFF\xFF\xFF"};
    for (const std::string &headerTail : headers) {
        mkdir((dir_ / "out").c_str(), 0777);
        Unpack(
            StreamWith(headerTail, {{"a", "\xFF\xFF"}, {"b", "\x5B\x01"}, {"c", executableFlag}}));
        for (const char *name : {"a", "b", "c"})
            EXPECT_EQ(ModeOf(dir_ / "out/" + name), 0644u) << name;
        std::system(("rm -rf '" + (dir_ / "out") + "'").c_str());
    }
}

} // namespace

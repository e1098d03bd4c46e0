#include <chrono>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* The whole program with its window in the platform's model and nobody to
   see it; the host controls press Abort and answer the request. */
class HeadlessRun : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "out").c_str(), 0777);
        WriteArchive(dir_ / "pkg.gz", StreamBuilder()
                                          .Directory("data")
                                          .File("data/small", "12345")
                                          .File("data/big.bin", data_)
                                          .File("data/after", "x")
                                          .Bytes());
    }

    RunResult Run(RunOptions options = {})
    {
        return RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, options);
    }

    RunResult RunWithAbortAt(const char *look, const char *answer)
    {
        RunOptions options;
        options.environment["VELORIN_HOST_ABORT_AT"] = look;
        options.environment["VELORIN_HOST_ANSWER"] = answer;
        return Run(options);
    }

    TempDir dir_;
    std::string data_ = MakeData(200000, 3);
};

TEST_F(HeadlessRun, AbortConfirmedLeavesFinishedEntriesAndWholePieces)
{
    /* The second look at the queue is the one after big.bin's first piece. */
    RunResult result = RunWithAbortAt("2", "Yes");
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(dir_ / "out/data/small"), "12345");
    std::string written = ReadFile(dir_ / "out/data/big.bin");
    EXPECT_EQ(written.size(), 65535u);
    EXPECT_TRUE(written == data_.substr(0, written.size()));
    EXPECT_EQ(SnapshotTree(dir_ / "out").count("data/after"), 0u);
}

TEST_F(HeadlessRun, AbortRefusedFinishesTheRun)
{
    RunResult result = RunWithAbortAt("1", "No");
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(ReadFile(dir_ / "out/data/big.bin") == data_);
    EXPECT_EQ(ReadFile(dir_ / "out/data/after"), "x");
}

TEST_F(HeadlessRun, WindowThatCannotOpenEndsTheRunBeforeTheArchive)
{
    for (const char *call :
         {"LockPubScreen", "GetVisualInfo", "CreateContext", "CreateGadget", "OpenWindowTags"}) {
        SCOPED_TRACE(call);
        RunOptions options;
        options.environment["VELORIN_HOST_FAIL"] = call;
        RunResult result = Run(options);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "Unable to init interface\n");
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
    }
}

TEST_F(HeadlessRun, ErrorPauseLastsOneHundredFiftyTicksOfTheRealClock)
{
    /* 150 ticks of 1/50 s: three seconds, once, before the run ends. */
    RunOptions options;
    options.environment["VELORIN_HOST_CLOCK"] = "";
    auto start = std::chrono::steady_clock::now();
    RunResult result =
        RunVelorin({"-archive", dir_ / "missing.gz", "-dest", dir_ / "out"}, options);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err,
              "Unable to open archive " + dir_ / "missing.gz" + ": No such file or directory\n");
    EXPECT_GE(took.count(), 3.0);
    EXPECT_LT(took.count(), 6.0) << "longer than a second pause would take";
}

} // namespace

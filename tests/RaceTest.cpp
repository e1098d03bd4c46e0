#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* Another process changes the destination or archive while velorin runs: nothing lands outside. */
class Race : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "outside").c_str(), 0777);
        WriteFile(dir_ / "outside/precious", "must stay as it is");
    }

    /* A directory d with a few hundred small files, and a subdirectory. */
    static std::string ManyFiles(char content)
    {
        StreamBuilder builder;
        builder.Directory("d").Directory("d/sub");
        for (int i = 0; i < 300; i++) {
            char name[32];
            std::snprintf(name, sizeof name, i % 3 == 0 ? "d/sub/f%03d" : "d/f%03d", i);
            builder.File(name, std::string(200 + i, content));
        }
        return builder.Bytes();
    }

    /* Runs velorin into a fresh dest while racer runs again and again. */
    template <typename Racer>
    RunResult RunRacing(const std::string &dest, Racer racer, RunOptions options = {})
    {
        mkdir(dest.c_str(), 0777);
        std::atomic<bool> running = true;
        std::thread thread([&] {
            while (running)
                racer();
        });
        RunResult result = RunVelorin({"-archive", dir_ / "pkg.gz", "-dest", dest}, options);
        running = false;
        thread.join();
        return result;
    }

    /* Races the given rounds in both ways of resolving names. */
    template <typename Racer> void RaceRounds(int rounds, Racer racer)
    {
        WriteArchive(dir_ / "pkg.gz", ManyFiles('x'));
        for (const char *resolution : {"", "openat2"}) {
            for (int round = 0; round < rounds; round++) {
                SCOPED_TRACE(std::string(resolution) + " round " + std::to_string(round));
                std::string dest = dir_ / ("dest" + std::to_string(round) + resolution);
                RunOptions options;
                options.environment["VELORIN_HOST_FAIL"] = resolution;
                RunResult result = RunRacing(
                    dest, [&] { racer(dest); }, options);
                EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << result.err;
                ASSERT_EQ(SnapshotTree(dir_ / "outside"),
                          (TreeSnapshot{{"precious", "file:must stay as it is"}}))
                    << "written outside the destination; velorin said: " << result.err;
            }
        }
    }

    TempDir dir_;
};

TEST_F(Race, DirectorySwappedForALinkNeverLeadsOutside)
{
    /* d and a link to outside change places, atomically, again and again. */
    RaceRounds(20, [this](const std::string &dest) {
        std::string link = dest + "/link";
        symlink((dir_ / "outside").c_str(), link.c_str());
        renameat2(AT_FDCWD, (dest + "/d").c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
        renameat2(AT_FDCWD, (dest + "/d/sub").c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
    });
}

TEST_F(Race, LinksPutWhereFilesLandAreNeverWrittenThrough)
{
    /* Links to files outside appear where the next files are to come. */
    int next = 0;
    RaceRounds(20, [&](const std::string &dest) {
        char name[64];
        std::snprintf(name, sizeof name, "/d/f%03d", next);
        std::string target = dir_ / ("outside/victim" + std::to_string(next));
        /* The target is never created: only a write through the link would. */
        symlink(target.c_str(), (dest + name).c_str());
        next = (next + 1) % 300;
    });
}

TEST_F(Race, ArchiveReplacedDuringTheRunIsNeverMixed)
{
    /* pkg.gz is renamed over by a sound and a damaged archive in turn. */
    WriteArchive(dir_ / "sound.gz", ManyFiles('s'));
    std::string damaged = ManyFiles('d');
    WriteArchive(dir_ / "damaged.gz", damaged.substr(0, damaged.size() / 2));
    std::string soundDest = dir_ / "reference";
    mkdir(soundDest.c_str(), 0777);
    ASSERT_EQ(RunVelorin({"-archive", dir_ / "sound.gz", "-dest", soundDest}).exitCode, 1);
    TreeSnapshot complete = SnapshotTree(soundDest);
    int swaps = 0, turn = 0;
    for (int round = 0; round < 80; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string dest = dir_ / ("dest" + std::to_string(round));
        RunResult result = RunRacing(dest, [&] {
            std::string next = dir_ / (turn++ % 2 == 0 ? "sound.gz" : "damaged.gz");
            /* rename leaves both names when they are the same file. */
            unlink((dir_ / "next.gz").c_str());
            link(next.c_str(), (dir_ / "next.gz").c_str());
            if (rename((dir_ / "next.gz").c_str(), (dir_ / "pkg.gz").c_str()) == 0)
                swaps++;
            /* A pause, so that velorin still runs on a busy machine. */
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        });
        TreeSnapshot made = SnapshotTree(dest);
        if (result.exitCode == 1)
            EXPECT_EQ(made, complete);
        else
            EXPECT_TRUE(made.empty())
                << "a failed run left " << made.size() << " entries: " << result.err;
    }
    EXPECT_GT(swaps, 0);
}

TEST_F(Race, ProgramMadeExecutableIsAlwaysTheFileWritten)
{
    /* A program's name is swapped for a hard link to a file outside, which stays as it is. */
    std::string src = dir_ / "src";
    mkdir(src.c_str(), 0755);
    WriteFile(src + "/run", std::string(100000, 'r'));
    chmod((src + "/run").c_str(), 0755);
    ASSERT_EQ(RunPack({src, dir_ / "pkg.gz"}).exitCode, 0);
    std::string outside = dir_ / "outside/precious";
    chmod(outside.c_str(), 0640);
    for (int round = 0; round < 100; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string dest = dir_ / ("dest" + std::to_string(round));
        RunResult result = RunRacing(dest, [&] {
            link(outside.c_str(), (dest + "/swap").c_str());
            rename((dest + "/swap").c_str(), (dest + "/run").c_str());
        });
        EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << result.err;
        struct stat status;
        ASSERT_EQ(stat(outside.c_str(), &status), 0);
        ASSERT_EQ(status.st_mode & 0777, 0640u) << "an outside file was made executable";
        ASSERT_EQ(ReadFile(outside), "must stay as it is");
    }
}

/* The bytes a process has read so far, all files together. */
unsigned long long CountBytesRead(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    unsigned long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

/* The process's state as /proc shows it: 'R', 'S', 'T' (stopped), 'Z'. */
char ReadState(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : 'Z';
}

TEST_F(Race, DestinationSwappedForALinkBetweenThePassesIsNeverFollowed)
{
    /* Stopped in its sizing pass, velorin's destination is swapped for a link outside. */
    StreamBuilder builder;
    for (int i = 0; i < 24; i++)
        builder.File("f" + std::to_string(i), MakeData(1 << 20, unsigned(i)));
    WriteArchive(dir_ / "pkg.gz", builder.Bytes(), 1);
    struct stat archive;
    ASSERT_EQ(stat((dir_ / "pkg.gz").c_str(), &archive), 0);
    unsigned long long size = (unsigned long long)archive.st_size;
    int conclusive = 0;
    for (int round = 0; round < 20 && conclusive < 3; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string dest = dir_ / "dest", moved = dir_ / ("moved" + std::to_string(round));
        ASSERT_EQ(mkdir(dest.c_str(), 0777), 0);
        BackgroundVelorin velorin({"-archive", dir_ / "pkg.gz", "-dest", dest});
        while (CountBytesRead(velorin.Pid()) < size / 3 && ReadState(velorin.Pid()) != 'Z') {
        }
        kill(velorin.Pid(), SIGSTOP);
        while (ReadState(velorin.Pid()) != 'T' && ReadState(velorin.Pid()) != 'Z') {
        }
        /* Still in the sizing pass: the archive not yet read a second time. */
        bool sizing = ReadState(velorin.Pid()) == 'T' && CountBytesRead(velorin.Pid()) < size;
        if (sizing) {
            ASSERT_EQ(rename(dest.c_str(), moved.c_str()), 0);
            ASSERT_EQ(symlink((dir_ / "outside").c_str(), dest.c_str()), 0);
        }
        kill(velorin.Pid(), SIGCONT);
        RunResult result = velorin.Finish(120);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        TreeSnapshot outside = SnapshotTree(dir_ / "outside");
        ASSERT_EQ(outside.size(), 1u) << "written outside the destination";
        ASSERT_EQ(outside["precious"], "file:must stay as it is");
        if (!sizing) {
            std::system(("rm -rf '" + dest + "'").c_str());
            continue;
        }
        EXPECT_EQ(SnapshotTree(moved).size(), 24u);
        unlink(dest.c_str());
        conclusive++;
    }
    EXPECT_GT(conclusive, 0) << "velorin was never stopped inside its sizing pass";
}

} // namespace

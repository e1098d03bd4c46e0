#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/HeldFile.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace
{

off_t SizeOf(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

/* A package whose setup script records where and how it ran ($RECORD) and ends with $STATUS. */
class Installer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "src").c_str(), 0777);
        mkdir((dir_ / "src/data").c_str(), 0777);
        mkdir((dir_ / "out").c_str(), 0777);
        WriteFile(dir_ / "src/setup.sh",
                  "#!/bin/sh\n{ pwd; printf '[%s]' \"$0\" \"$@\"; echo; } > \"$RECORD\"\n"
                  "exit \"${STATUS:-0}\"\n");
        chmod((dir_ / "src/setup.sh").c_str(), 0755);
        WriteFile(dir_ / "src/data/blob.bin", data_);
    }

    /* Begun by the test build of velorin, which obeys the test controls. */
    RunResult Make(const std::vector<std::string> &options)
    {
        std::vector<std::string> args = {dir_ / "src", installer_, "-installer", "-stub",
                                         VELORIN_BINARY};
        args.insert(args.end(), options.begin(), options.end());
        return RunPack(args);
    }

    void MakeWithCommand(const std::string &command)
    {
        RunResult made = Make({"-run", command});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    RunResult Run(const std::vector<std::string> &args, RunOptions options = {},
                  const std::string &program = "")
    {
        AddVelorinControls(options, dir_ / "balance");
        options.environment.emplace("RECORD", dir_ / "record");
        return RunProgram(program.empty() ? installer_ : program, args, options);
    }

    TempDir dir_;
    std::string installer_ = dir_ / "app.run";
    std::string data_ = MakeData(400000, 3);
};

TEST_F(Installer, RunsTheCommandInTheUnpackedTreeWithItsArgumentsAndStatus)
{
    MakeWithCommand("./setup.sh \"$0\" \"$@\"");
    mode_t mask = umask(0);
    umask(mask);
    struct stat status;
    ASSERT_EQ(stat(installer_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755 & ~mask);

    RunResult result = Run({"-DEST", dir_ / "out", "--", "two words", "", "-dest"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(ReadFile(dir_ / "out/data/blob.bin") == data_);
    EXPECT_EQ(ReadFile(dir_ / "record"),
              dir_ / "out\n[./setup.sh][" + installer_ + "][two words][][-dest]\n");
    ExpectBalanced(ReadFile(dir_ / "balance"));

    /* The command's failure is the installer's, a signal's end as a shell gives it. */
    RunOptions failing;
    failing.environment["STATUS"] = "7";
    EXPECT_EQ(Run({"-dest", dir_ / "out"}, failing).exitCode, 7);
    MakeWithCommand("kill -TERM $$");
    EXPECT_EQ(Run({"-dest", dir_ / "out"}).exitCode, 128 + SIGTERM);
}

TEST_F(Installer, TemporaryDirectoryIsRemovedWithoutFollowingLinksOrKept)
{
    /* Read-only directories and links to outside are left; run as a user other than root if
     * possible. */
    mkdir((dir_ / "tmp").c_str(), 0777);
    mkdir((dir_ / "outside").c_str(), 0777);
    chmod(dir_.Path().c_str(), 0755);
    chmod((dir_ / "tmp").c_str(), 0777);
    WriteFile(dir_ / "outside/keep.txt", "keep");
    MakeWithCommand("./setup.sh && mkdir -p ro/sub && chmod 500 ro/sub ro && "
                    "ln -s \"$OUTSIDE\" dirlink && ln -s \"$OUTSIDE/keep.txt\" filelink");
    RunOptions options;
    options.environment["TMPDIR"] = dir_ / "tmp";
    options.environment["OUTSIDE"] = dir_ / "outside";

    RunOptions asUser = options;
    asUser.environment["RECORD"] = dir_ / "tmp/record";
    if (geteuid() == 0)
        asUser.userId = asUser.groupId = 65534;
    RunResult removed = Run({}, asUser);
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    std::string ranIn = ReadFile(dir_ / "tmp/record");
    unlink((dir_ / "tmp/record").c_str());
    EXPECT_EQ(ranIn.rfind(dir_ / "tmp/", 0), 0u) << ranIn;
    EXPECT_TRUE(SnapshotTree(dir_ / "tmp").empty()) << removed.err;
    EXPECT_EQ(ReadFile(dir_ / "outside/keep.txt"), "keep");

    RunResult kept = Run({"-Keep"}, options);
    EXPECT_EQ(kept.exitCode, 0) << kept.err;
    std::string keptDir = ReadFile(dir_ / "record");
    keptDir = keptDir.substr(0, keptDir.find('\n'));
    EXPECT_NE(kept.err.find(keptDir), std::string::npos) << kept.err;
    EXPECT_TRUE(ReadFile(keptDir + "/data/blob.bin") == data_);

    unlink((dir_ / "record").c_str());
    WriteFile(dir_ / "notadir", "");
    options.environment["TMPDIR"] = dir_ / "notadir";
    RunResult refused = Run({}, options);
    EXPECT_EQ(refused.exitCode, 125);
    EXPECT_NE(refused.err.find("cannot make a temporary directory in " + dir_ / "notadir"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(Exists(dir_ / "record"));
}

TEST_F(Installer, DamagedOrIncompleteInstallerUnpacksAndRunsNothing)
{
    MakeWithCommand("./setup.sh");
    std::string whole = ReadFile(installer_);
    off_t stubSize = SizeOf(VELORIN_BINARY);
    auto expectNothingDone = [&](const std::string &bytes, const std::string &message) {
        WriteFile(dir_ / "bad.run", bytes);
        chmod((dir_ / "bad.run").c_str(), 0755);
        RunResult result = Run({"-dest", dir_ / "out"}, {}, dir_ / "bad.run");
        EXPECT_EQ(result.exitCode, 125) << message;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty()) << message;
        EXPECT_FALSE(Exists(dir_ / "record")) << message;
    };

    std::string damaged = whole;
    damaged[stubSize + (whole.size() - stubSize) / 2] ^= 0x10;
    expectNothingDone(damaged,
                      "the unpacking failed: the archive is damaged; the command was not run");
    /* An archive that ends inside a file's data, its place filled with zero padding. */
    size_t archiveEnd = size_t(stubSize);
    while (whole.compare(archiveEnd, 2, "\x1f\x8b") == 0)
        archiveEnd += uint8_t(whole[archiveEnd + 16]) | uint8_t(whole[archiveEnd + 17]) << 8 |
                      uint8_t(whole[archiveEnd + 18]) << 16;
    std::string shortArchive =
        MakeBlockMember(StreamBuilder().Entry("data/blob.bin", 1000, 0).Bytes());
    ASSERT_LT(shortArchive.size(), archiveEnd - size_t(stubSize));
    std::string incomplete = whole;
    incomplete.replace(size_t(stubSize), shortArchive.size(), shortArchive);
    std::fill(incomplete.begin() + stubSize + ptrdiff_t(shortArchive.size()),
              incomplete.begin() + ptrdiff_t(archiveEnd), '\0');
    expectNothingDone(incomplete,
                      "the unpacking failed: the archive is incomplete; the command was not run");
    WriteFile(dir_ / "bad.run", damaged);
    RunResult verified = RunProgram(dir_ / "bad.run", {"-verify"});
    EXPECT_EQ(verified.exitCode, 1);
    EXPECT_EQ(verified.out.rfind("FAULT", 0), 0u) << verified.out;

    std::string total = std::to_string(whole.size());
    for (size_t cut : {size_t(stubSize) + 1000, whole.size() - 20, whole.size() - 1})
        expectNothingDone(whole.substr(0, cut),
                          "the installer is incomplete: " + std::to_string(cut) + " of its " +
                              total + " bytes are there");

    damaged = whole;
    damaged.back() ^= 0x01;
    expectNothingDone(damaged, "the installer is damaged");
    expectNothingDone(whole + "x", "the installer is damaged");
}

TEST_F(Installer, ListVerifyAndHelpDescribeWhatItHolds)
{
    MakeWithCommand("./setup.sh");
    ASSERT_EQ(RunPack({dir_ / "src", dir_ / "plain.gz"}).exitCode, 0);

    for (auto [option, packOption] :
         {std::pair{"-LIST", "-list"}, std::pair{"-verify", "-verify"}}) {
        RunResult result = Run({option});
        EXPECT_EQ(result.exitCode, 0) << option;
        EXPECT_EQ(result.out, RunPack({packOption, dir_ / "plain.gz"}).out);
    }

    RunResult help = Run({"-help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("installer of " + std::to_string(SizeOf(installer_)) +
                            " bytes, holding 1 directory and 2 files"),
              std::string::npos)
        << help.out;
    EXPECT_NE(help.out.find("runs: ./setup.sh\n"), std::string::npos) << help.out;
    EXPECT_FALSE(Exists(dir_ / "record"));

    /* A listing that did not arrive is a failure. */
    RunResult lost = RunProgram("/bin/sh", {"-c", "\"$0\" -list > /dev/full", installer_});
    EXPECT_EQ(lost.exitCode, 1);
    EXPECT_NE(lost.err.find("app.run: cannot write to standard output"), std::string::npos)
        << lost.err;
}

TEST_F(Installer, PackingOptionsComeAnywhereInAnyCaseAndApplyToInstallers)
{
    RunResult made = RunPack({"-Exclude", "data", dir_ / "src", "-RUN", "./setup.sh", installer_,
                              "-Installer", "-LEVEL", "0"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(Run({"-list"}).out.find("data"), std::string::npos);
    EXPECT_EQ(RunPack({dir_ / "src", dir_ / "x.run", "-installer", "-run", ""}).exitCode, 2);
    EXPECT_EQ(RunPack({dir_ / "src", dir_ / "x.gz", "-stub", installer_}).exitCode, 2);
    EXPECT_EQ(RunPack({"-list", installer_, "-installer"}).exitCode, 2);
    EXPECT_EQ(RunPack({dir_ / "src", dir_ / "x.gz", "-run", "true"}).exitCode, 2);
    EXPECT_FALSE(Exists(dir_ / "x.run") || Exists(dir_ / "x.gz"));
}

TEST_F(Installer, EndedBySigtermWhileMadeItLeavesNothing)
{
    std::string big = dir_ / "big";
    mkdir(big.c_str(), 0777);
    /* Four gigabytes of holes take long enough to pack. */
    int descriptor = open((big + "/holes").c_str(), O_WRONLY | O_CREAT, 0666);
    ASSERT_EQ(ftruncate(descriptor, 4294967295LL), 0);
    close(descriptor);
    std::string made = dir_ / "out/big.run";
    BackgroundProgram pack(VELORIN_PACK_BINARY, {big, made, "-installer", "-level", "1"});
    auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(dir_ / "out"),
                             std::filesystem::directory_iterator());
    };
    for (int waited = 0; entries() == 0; waited++) {
        ASSERT_LT(waited, 30000) << "no partial installer appeared";
        usleep(1000);
    }
    kill(pack.Pid(), SIGTERM);
    EXPECT_EQ(pack.Finish(60).exitCode, -1);
    EXPECT_EQ(entries(), 0);
}

TEST_F(Installer, CommandLineFaultsAreRefused)
{
    ASSERT_EQ(Make({}).exitCode, 0);
    /* Without a command there is no temporary directory to unpack into. */
    RunResult noDest = Run({});
    EXPECT_EQ(noDest.exitCode, 2);
    EXPECT_NE(noDest.err.find("missing -dest"), std::string::npos) << noDest.err;
    EXPECT_EQ(Run({"-dest"}).exitCode, 2);
    RunResult missing = Run({"-dest", dir_ / "nowhere"});
    EXPECT_EQ(missing.exitCode, 125);
    EXPECT_NE(missing.err.find("the unpacking failed"), std::string::npos) << missing.err;

    /* Only a velorin program with an unfilled slot begins an installer. */
    for (const std::string &stub : {std::string(VELORIN_PACK_BINARY), installer_}) {
        RunResult refused = Make({"-stub", stub, "-run", "true"});
        EXPECT_EQ(refused.exitCode, 1) << stub;
        EXPECT_NE(refused.err.find(stub), std::string::npos) << refused.err;
    }
    /* Made again into its own tree, the earlier installer would be packed into it. */
    std::vector<std::string> inTree = {dir_ / "src", dir_ / "src/app.run", "-installer"};
    EXPECT_EQ(RunPack(inTree).exitCode, 0);
    RunResult again = RunPack(inTree);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("would be packed into itself"), std::string::npos) << again.err;
    unlink((dir_ / "src/app.run").c_str());
}

/* Without /proc the installer finds itself by the path the shell ran from PATH; removal never
 * enters a mount. */
TEST_F(Installer, RunsWithoutProcAndNeverRemovesThroughAMount)
{
    std::string unshare = FindTool("unshare");
    if (geteuid() != 0 || unshare.empty()) {
        if (AreLiveTestsRequired())
            FAIL() << "needs root and unshare";
        GTEST_SKIP() << "needs root and unshare";
    }
    mkdir((dir_ / "tmp").c_str(), 0777);
    mkdir((dir_ / "outside").c_str(), 0777);
    WriteFile(dir_ / "outside/keep.txt", "keep");
    MakeWithCommand("./setup.sh && mkdir mounted && mount --bind \"$OUTSIDE\" mounted");
    RunOptions options;
    options.environment["TMPDIR"] = dir_ / "tmp";
    options.environment["OUTSIDE"] = dir_ / "outside";
    options.environment["PATH"] = dir_.Path() + ":/usr/sbin:/usr/bin:/sbin:/bin";
#ifdef __SANITIZE_ADDRESS__
    /* The sanitizers need /proc. */
    std::string hideProc;
#else
    std::string hideProc = "mount -t tmpfs none /proc && ";
#endif
    RunResult result = Run({"-m", "sh", "-c", hideProc + "exec app.run"}, options, unshare);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "record").rfind(dir_ / "tmp/", 0), 0u);
    EXPECT_NE(result.err.find("cannot remove all of"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "outside/keep.txt"), "keep");
}

/* Whether the program needs no dynamic loader, as an empty root demands. */
bool IsStatic(const std::string &path)
{
    std::string bytes = ReadFile(path);
    if (bytes.size() < sizeof(Elf64_Ehdr) || bytes.compare(0, 4, ELFMAG) != 0 ||
        bytes[EI_CLASS] != ELFCLASS64)
        return false;
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    for (unsigned i = 0; i < header.e_phnum; i++) {
        Elf64_Phdr program;
        size_t at = header.e_phoff + size_t(i) * header.e_phentsize;
        if (at + sizeof program > bytes.size())
            return false;
        std::memcpy(&program, bytes.data() + at, sizeof program);
        if (program.p_type == PT_INTERP)
            return false;
    }
    return true;
}

/* Nothing but the installer and /dev/null: no /proc, no library, no shell. */
TEST_F(Installer, StartsFromAnEmptyRoot)
{
    if (geteuid() != 0 || !IsStatic(VELORIN_BINARY))
        GTEST_SKIP() << "needs root and a velorin linked statically";
    ASSERT_EQ(Make({}).exitCode, 0);
    std::string root = dir_ / "root";
    mkdir(root.c_str(), 0755);
    mkdir((root + "/dev").c_str(), 0755);
    mkdir((root + "/out").c_str(), 0755);
    ASSERT_EQ(mknod((root + "/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(rename(installer_.c_str(), (root + "/app.run").c_str()), 0);
    RunOptions options;
    options.environment["VELORIN_HOST_PRESENTATION"] = "headless";
    RunResult result = RunProgram("/usr/sbin/chroot", {root, "/app.run", "-dest", "/out"}, options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(ReadFile(root + "/out/data/blob.bin") == data_);
}

/* The installer in tmux, as a person runs it. */
class InstallerInTerminal : public Installer, protected TmuxServer
{
  protected:
    void SetUp() override
    {
        REQUIRE_LIVE_TOOLS("tmux", "stty");
        Installer::SetUp();
    }

    void Start()
    {
        std::string installer = "exec env -u DISPLAY -u WAYLAND_DISPLAY VELORIN_HOST_CLOCK=instant "
                                "RECORD=" +
                                Quote(dir_ / "record") + " " + Quote(installer_) + " -dest " +
                                Quote(dir_ / "out");
        Tmux({"new-session", "-d", "-x", "100", "-y", "30",
              RecordStatus(installer, dir_.Path()) + "; sleep 600"});
    }

    /* Starts with the data file held, so the run waits in its writing pass with the box up. */
    std::unique_ptr<HeldFile> StartHeld()
    {
        MakeWithCommand("./setup.sh");
        mkdir((dir_ / "out/data").c_str(), 0777);
        auto held =
            std::make_unique<HeldFile>(dir_ / "out/data/blob.bin", "", HeldFile::AgainstWriting);
        Start();
        EXPECT_TRUE(held->WaitUntilWanted());
        return held;
    }

    int WaitForStatus() { return TmuxServer::WaitForStatus(dir_.Path()); }

    void ExpectTerminalGivenBack(const std::string &settings)
    {
        EXPECT_EQ(settings.find("-icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find(" -echo "), std::string::npos) << settings;
    }
};

TEST_F(InstallerInTerminal, AbortRunsNothingAndGivesTheAbortStatus)
{
    std::unique_ptr<HeldFile> held = StartHeld();
    WaitForScreen("[a] Abort");
    Tmux({"send-keys", "ay"});
    held->Release();
    ASSERT_EQ(WaitForStatus(), 130);
    EXPECT_FALSE(Exists(dir_ / "record"));
    EXPECT_NE(Tmux({"capture-pane", "-p"}).find("aborted; the command was not run"),
              std::string::npos);
    ExpectTerminalGivenBack(ReadFile(dir_ / "stty"));
}

/* A second Ctrl-C ends the process at once, with the abort's status too. */
TEST_F(InstallerInTerminal, SecondInterruptEndsWithTheAbortStatus)
{
    std::unique_ptr<HeldFile> held = StartHeld();
    Tmux({"send-keys", "C-c"});
    WaitForScreen("[a] Abort (pressed)");
    Tmux({"send-keys", "C-c"});
    ASSERT_EQ(WaitForStatus(), 130);
    EXPECT_FALSE(Exists(dir_ / "record"));
    ExpectTerminalGivenBack(ReadFile(dir_ / "stty"));
}

TEST_F(InstallerInTerminal, CommandGetsTheTerminalBack)
{
    MakeWithCommand("printf 'Go on? '; read answer; { echo \"$answer\"; stty -a; } > \"$RECORD\"");
    Start();
    WaitForScreen("Go on?");
    Tmux({"send-keys", "-l", "yes please"});
    Tmux({"send-keys", "Enter"});
    EXPECT_EQ(WaitForStatus(), 0);
    std::string record = ReadFile(dir_ / "record");
    EXPECT_EQ(record.rfind("yes please\n", 0), 0u) << record;
    ExpectTerminalGivenBack(record);
}

/* The window shows while the installer unpacks and is gone when the command runs. */
TEST_F(Installer, DesktopWindowIsGoneWhenTheCommandRuns)
{
    REQUIRE_LIVE_TOOLS("Xvfb", "xdotool");
    VirtualDisplay display;
    ASSERT_TRUE(display.IsRunning());
    MakeWithCommand("xdotool search --onlyvisible --name '^Unpacking' > /dev/null; "
                    "echo $? > \"$RECORD\"");
    mkdir((dir_ / "out/data").c_str(), 0777);
    HeldFile held(dir_ / "out/data/blob.bin", "", HeldFile::AgainstWriting);
    RunOptions options;
    options.environment["VELORIN_HOST_PRESENTATION"] = "";
    options.environment["DISPLAY"] = display.Name();
    options.environment["RECORD"] = dir_ / "record";
    AddVelorinControls(options, dir_ / "balance");
    BackgroundProgram run(installer_, {"-dest", dir_ / "out"}, options);
    ASSERT_TRUE(held.WaitUntilWanted());
    std::string shown = RunTool({"xdotool", "search", "--onlyvisible", "--name", "^Unpacking"},
                                {{"DISPLAY", display.Name()}});
    EXPECT_FALSE(shown.empty());
    held.Release();
    RunResult result = run.Finish(120);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "record"), "1\n");
}

} // namespace

#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* A package whose setup script records its arguments and context in $RECORD. */
class InstallerOptions : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "src").c_str(), 0777);
        mkdir((dir_ / "src/data").c_str(), 0777);
        mkdir((dir_ / "out").c_str(), 0777);
        WriteFile(dir_ / "src/setup.sh",
                  "#!/bin/sh\n{ printf '[%s]' \"$0\" \"$@\"; echo; echo \"$VELORIN_INSTALLER\";"
                  " echo \"$VELORIN_START_DIR\"; pwd; } > \"$RECORD\"\n");
        chmod((dir_ / "src/setup.sh").c_str(), 0755);
        WriteFile(dir_ / "src/data/blob.bin", MakeData(400000, 5));
    }

    void Make(const std::string &command)
    {
        RunResult made = RunPack(
            {dir_ / "src", installer_, "-installer", "-stub", VELORIN_BINARY, "-run", command});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    RunResult Run(const std::vector<std::string> &args, RunOptions options = {},
                  const std::string &program = "")
    {
        AddVelorinControls(options, dir_ / "balance");
        options.environment.emplace("RECORD", dir_ / "record");
        return RunProgram(program.empty() ? installer_ : program, args, options);
    }

    /* Runs the installer in a mount namespace of its own, where a tmpfs with
       these options is mounted on mountPoint first; what it leaves there is
       listed in mountPoint.listing. */
    RunResult RunOnMount(const std::string &mountPoint, const std::string &mountOptions,
                         const std::vector<std::string> &args, RunOptions options = {},
                         const std::string &program = "")
    {
        std::vector<std::string> wrapped = {"-m",
                                            "sh",
                                            "-c",
                                            "mount -t tmpfs -o " + mountOptions +
                                                " none \"$0\" || exit; \"$@\"; status=$?; ls -A "
                                                "\"$0\" > \"$0.listing\"; exit $status",
                                            mountPoint,
                                            program.empty() ? installer_ : program};
        wrapped.insert(wrapped.end(), args.begin(), args.end());
        return Run(wrapped, options, FindTool("unshare"));
    }

    TempDir dir_;
    std::string installer_ = dir_ / "app.run";
};

#define REQUIRE_MOUNTS()                                                                           \
    if (geteuid() != 0 || FindTool("unshare").empty()) {                                           \
        if (AreLiveTestsRequired())                                                                \
            FAIL() << "needs root and unshare";                                                    \
        GTEST_SKIP() << "needs root and unshare";                                                  \
    }

TEST_F(InstallerOptions, FaultsAreNamedAndHelpAndVersionTakeTwoDashes)
{
    Make("./setup.sh");
    struct {
        std::vector<std::string> args;
        std::string error;
    } faults[] = {
        {{"-bogus"}, "app.run: unknown option -bogus\nUsage: app.run"},
        {{"-dest"}, "app.run: -dest needs a directory\nUsage: app.run"},
        {{"-dest=" + dir_ / "out"}, "app.run: unknown option -dest=" + dir_ / "out"},
        {{"-TARGET"}, "app.run: -target needs a directory\n"},
        {{"out"}, "app.run: unexpected argument out (the command's arguments come after --)"},
        {{"-dest", dir_ / "out", "-target", dir_ / "t"},
         "app.run: -dest and -target cannot be given"},
        {{"-noexec"}, "app.run: -noexec needs -dest DIR, -target DIR or -keep"},
    };
    for (const auto &[args, error] : faults) {
        RunResult result = Run(args);
        EXPECT_EQ(result.exitCode, 2) << error;
        EXPECT_EQ(result.err.rfind(error, 0), 0u) << result.err;
    }
    EXPECT_FALSE(Exists(dir_ / "record") || Exists(dir_ / "t"));
    EXPECT_FALSE(Exists(dir_ / "out/setup.sh"));

    for (const char *help : {"--help", "--HELP", "-Help"}) {
        RunResult result = Run({help});
        EXPECT_EQ(result.exitCode, 0) << help;
        EXPECT_NE(result.out.find("  -target DIR "), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("VELORIN_START_DIR"), std::string::npos) << result.out;
    }
    EXPECT_EQ(Run({"--version"}).out, "velorin " VELORIN_VERSION "\n");

    RunResult pack = RunPack({"--help"});
    EXPECT_EQ(pack.exitCode, 0);
    EXPECT_NE(pack.out.find("  -installer "), std::string::npos);
    EXPECT_EQ(RunPack({"--Version"}).out, "velorin-pack " VELORIN_VERSION "\n");
    EXPECT_EQ(RunPack({"---help"}).err.rfind("velorin-pack: unknown option ---help\n", 0), 0u);
}

TEST_F(InstallerOptions, TargetIsCreatedAndNoexecRunsNothing)
{
    Make("./setup.sh");
    mode_t mask = umask(022);
    umask(mask);
    /* An existing part may be a link; what is created is below it. */
    ASSERT_EQ(symlink((dir_ / "out").c_str(), (dir_ / "link").c_str()), 0);
    RunResult result = Run({"-noexec", "-target", dir_ / "link/new/deeper/"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "app.run: unpacked into " + dir_ / "link/new/deeper/" +
                              "; the command was not run (-noexec)\n");
    EXPECT_FALSE(Exists(dir_ / "record"));
    EXPECT_TRUE(Exists(dir_ / "out/new/deeper/data/blob.bin"));
    for (const char *created : {"out/new", "out/new/deeper"}) {
        struct stat status;
        ASSERT_EQ(lstat((dir_ / created).c_str(), &status), 0);
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0755 & ~mask) << created;
    }

    /* An existing target is used as it is; then the command runs there. */
    result = Run({"-target", dir_ / "out/new"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(ReadFile(dir_ / "record").find("\n" + dir_ / "out/new\n"), std::string::npos);

    /* Once something was created, a link met further on is not followed. */
    RunResult linked = Run({"-target", dir_ / "made/../link/x"});
    EXPECT_EQ(linked.exitCode, 125);
    EXPECT_EQ(linked.err, "app.run: cannot create the directory " + dir_ / "made/../link/x" +
                              ": a symbolic link is in the way; nothing was unpacked\n");
    EXPECT_FALSE(Exists(dir_ / "out/x"));

    WriteFile(dir_ / "file", "");
    RunResult refused = Run({"-target", dir_ / "file/sub"});
    EXPECT_EQ(refused.exitCode, 125);
    EXPECT_EQ(refused.err, "app.run: cannot create the directory " + dir_ / "file/sub" +
                               ": Not a directory; nothing was unpacked\n");
}

/* A plain command gets the arguments after --, one that uses them itself gets them once, and
   every command learns the installer's path and the directory it was started from. */
TEST_F(InstallerOptions, ArgumentsReachTheCommandWithItsContext)
{
    struct {
        std::string command;
        std::string arguments;
    } commands[] = {
        {"./setup.sh", "[./setup.sh][--prefix][/opt/my game]"},
        {"./setup.sh \"$@\"", "[./setup.sh][--prefix][/opt/my game]"},
        {"./setup.sh \"$1\"", "[./setup.sh][--prefix]"},
        {"V=\"a b\" ./setup.sh '-q' $HOME",
         "[./setup.sh][-q][" + std::string(getenv("HOME")) + "][--prefix][/opt/my game]"},
        {"./setup.sh && true", "[./setup.sh]"},
        {"./setup.sh # \"$@\" is not used", "[./setup.sh]"},
    };
    mkdir((dir_ / "start").c_str(), 0777);
    for (const auto &[command, arguments] : commands) {
        Make(command);
        unlink((dir_ / "record").c_str());
        RunResult result =
            Run({"-c", "cd \"$0\" && ../app.run -dest ../out -- --prefix '/opt/my game'",
                 dir_ / "start"},
                {}, "/bin/sh");
        EXPECT_EQ(result.exitCode, 0) << command << result.err;
        EXPECT_EQ(ReadFile(dir_ / "record"),
                  arguments + "\n" + installer_ + "\n" + dir_ / "start\n" + dir_ / "out\n")
            << command;
    }
}

TEST_F(InstallerOptions, NoexecTemporaryDirectoryIsFoundBeforeUnpacking)
{
    REQUIRE_MOUNTS();
    Make("./setup.sh");
    mkdir((dir_ / "tmp").c_str(), 0777);
    RunOptions options;
    options.environment["TMPDIR"] = dir_ / "tmp";
    RunResult result = RunOnMount(dir_ / "tmp", "noexec", {"--", "x"}, options);
    EXPECT_EQ(result.exitCode, 125) << result.err;
    EXPECT_EQ(result.err, "app.run: " + dir_ / "tmp" +
                              " is on a file system mounted noexec, where the command cannot run: "
                              "give -dest DIR or -target DIR, or set TMPDIR to another directory; "
                              "nothing was unpacked\n");
    EXPECT_FALSE(Exists(dir_ / "record"));
    /* Run nothing, and it may unpack there. */
    result = RunOnMount(dir_ / "tmp", "noexec", {"-noexec", "-keep"}, options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

/* The free space is compared before anything is created, in velorin and in the installer. */
TEST_F(InstallerOptions, TooLittleSpaceIsRefusedBeforeAnythingIsCreated)
{
    REQUIRE_MOUNTS();
    Make("./setup.sh");
    ASSERT_EQ(RunPack({dir_ / "src", dir_ / "pkg.gz"}).exitCode, 0);
    std::string small = dir_ / "out";
    std::vector<std::string> velorin = {"-archive", dir_ / "pkg.gz", "-dest", small};

    RunResult refused = RunOnMount(small, "size=256k", velorin, {}, VELORIN_BINARY);
    EXPECT_EQ(refused.exitCode, 0);
    EXPECT_EQ(refused.err, "Not enough space in " + small + ": 1 MB needed, 0 MB free\n");
    EXPECT_EQ(ReadFile(small + ".listing"), "");
    RunResult nodes = RunOnMount(small, "nr_inodes=3", velorin, {}, VELORIN_BINARY);
    EXPECT_EQ(nodes.exitCode, 0);
    EXPECT_EQ(nodes.err,
              "Not enough space in " + small + ": 3 files and directories needed, room for 2\n");
    EXPECT_EQ(ReadFile(small + ".listing"), "");
    RunResult installer = RunOnMount(small, "size=256k", {"-dest", small});
    EXPECT_EQ(installer.exitCode, 125);
    EXPECT_EQ(installer.err, "Not enough space in " + small +
                                 ": 1 MB needed, 0 MB free\n"
                                 "app.run: the unpacking failed; the command was not run\n");
    EXPECT_FALSE(Exists(dir_ / "record"));
    EXPECT_EQ(ReadFile(small + ".listing"), "");

    /* Turned off, the writing pass meets the full disk itself; with room, all is unpacked. */
    velorin.push_back("-NoSpaceCheck");
    RunResult unchecked = RunOnMount(small, "size=256k", velorin, {}, VELORIN_BINARY);
    EXPECT_EQ(unchecked.exitCode, 0);
    EXPECT_NE(unchecked.err.find("No space left on device"), std::string::npos);
    unchecked = RunOnMount(small, "size=256k", {"-nospacecheck", "-dest", small});
    EXPECT_EQ(unchecked.exitCode, 125);
    EXPECT_NE(unchecked.err.find("No space left on device"), std::string::npos);
    EXPECT_EQ(RunOnMount(small, "size=1m,nr_inodes=4", velorin, {}, VELORIN_BINARY).exitCode, 1);
    EXPECT_EQ(ReadFile(small + ".listing"), "data\nsetup.sh\n");
}

TEST_F(InstallerOptions, PackListsAndVerifiesAnInstallerAsItsArchive)
{
    Make("./setup.sh");
    ASSERT_EQ(RunPack({dir_ / "src", dir_ / "pkg.gz"}).exitCode, 0);
    for (const char *mode : {"-list", "-verify"}) {
        RunResult result = RunPack({mode, installer_});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, RunPack({mode, dir_ / "pkg.gz"}).out);
        EXPECT_EQ(result.out, Run({mode}).out);
    }
    std::string whole = ReadFile(installer_);
    WriteFile(dir_ / "cut.run", whole.substr(0, whole.size() - 10));
    RunResult cut = RunPack({"-list", dir_ / "cut.run"});
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.err, "velorin-pack: " + dir_ / "cut.run" +
                           ": the installer is incomplete: " + std::to_string(whole.size() - 10) +
                           " of its " + std::to_string(whole.size()) + " bytes are there\n");
    /* velorin itself, a program but no installer, is no archive either. */
    RunResult program = RunPack({"-list", VELORIN_BINARY});
    EXPECT_EQ(program.exitCode, 1);
    EXPECT_NE(program.err.find("not an archive nor a whole installer"), std::string::npos)
        << program.err;
}

} // namespace

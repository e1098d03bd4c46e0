#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

const std::string usage = "Usage: Velorin <options>\n"
                          "   -archive: specify the archive name\n"
                          "   -dest:    specify the patch to expand to\n";

std::string ExampleArchive(const TempDir &dir)
{
    std::string path = dir / "pkg.gz";
    WriteArchive(path, StreamBuilder().Directory("docs").File("docs/readme", "hello").Bytes());
    return path;
}

TEST(CommandLine, EachFaultPrintsItsLinesAndReturnsZero)
{
    const std::string tooLong(512, 'x');
    const struct {
        std::vector<std::string> args;
        std::string out;
    } faults[] = {
        {{}, "Missing destination\n"},
        {{"-archive", "a.gz"}, "Missing destination\n"},
        {{"-dest", "Work:x"}, "Missing archive name\n"},
        {{"-dest", "Work:x", "-archive", "a.gz", "-verbose", "yes"}, usage},
        {{"-dest", "Work:x", "-archive", "a.gz", "extra"}, usage},
        {{"-dest", "Work:x", "-archive"}, usage},
        {{"-destination", "x", "-archive", "a.gz"}, usage},
        {{"dest", "x", "-archive", "a.gz"}, usage},
        {{"-verbose", "yes", "-dest", "x", "-archive", "a.gz"}, usage},
        {{"-dest", tooLong, "-archive", "a.gz"}, "Destination name too long\n"},
        {{"-dest", "x", "-archive", tooLong}, "Archive name too long\n"},
    };
    for (const auto &fault : faults) {
        RunResult result = RunVelorin(fault.args);
        std::string shown = testing::PrintToString(fault.args);
        EXPECT_EQ(result.exitCode, 0) << shown;
        EXPECT_EQ(result.out, fault.out) << shown;
        EXPECT_EQ(result.err, "") << shown;
    }
}

TEST(CommandLine, VersionIsToldWhereAnOptionNameStands)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-version"}, {"-dest", "x", "-VERSION"}}) {
        RunResult result = RunVelorin(args);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "velorin " VELORIN_VERSION "\n");
    }
    /* As a value it is a value: the destination named -version. */
    EXPECT_EQ(RunVelorin({"-dest", "-version"}).out, "Missing archive name\n");
}

TEST(CommandLine, NamesIgnoreCaseTheLastValueCountsAnd511CharactersArriveWhole)
{
    TempDir dir;
    std::string archive = ExampleArchive(dir);
    std::string destination = dir.Path();
    while (destination.size() < 511) {
        destination.push_back('/');
        destination.append(std::min<size_t>(100, 511 - destination.size()), 'd');
        ASSERT_EQ(mkdir(destination.c_str(), 0777), 0) << destination;
    }
    ASSERT_EQ(destination.size(), 511u);
    RunResult result =
        RunVelorin({"-DEST", dir / "one", "-dest", destination, "-Archive", archive});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFile(destination + "/docs/readme"), "hello");
}

TEST(CommandLine, MissingOrEmptyDestinationEndsTheRunWithZero)
{
    TempDir dir;
    std::string archive = ExampleArchive(dir);
    RunResult missingDestination = RunVelorin({"-archive", archive, "-dest", dir / "absent"});
    EXPECT_EQ(missingDestination.exitCode, 0);
    EXPECT_EQ(missingDestination.err, "Unable to change directory to " + dir.Path() +
                                          "/absent: No such file or directory\n");
    /* An empty destination never becomes the root directory. */
    RunResult emptyDestination = RunVelorin({"-archive", archive, "-dest", ""});
    EXPECT_EQ(emptyDestination.exitCode, 0);
    EXPECT_EQ(emptyDestination.err, "Unable to change directory to \n");
    EXPECT_EQ(SnapshotTree(dir.Path()).size(), 1u);
}

TEST(CommandLine, RandomCommandLinesEndOnlyInDocumentedWays)
{
    TempDir dir;
    std::string archive = ExampleArchive(dir);
    mkdir((dir / "out").c_str(), 0777);
    const std::vector<std::string> pool = {
        "-archive",
        "-dest",
        "-ARCHIVE",
        "-Dest",
        "-d",
        "dest",
        "-destination",
        "",
        "-",
        "x",
        archive,
        dir / "out",
        dir / "absent.gz",
        dir / "absent",
        std::string(511, 'a'),
        std::string(512, 'b'),
        "-verbose",
        "\x1b[2J",
    };
    const std::set<std::string> outputs = {
        "",    "Missing destination\n",   "Missing archive name\n",
        usage, "Archive name too long\n", "Destination name too long\n",
    };
    const std::regex errorLine(
        "(Unable to open archive .*|Unable to change directory to .*|"
        "(Data error while reading archive header|Error reading archive file header): the "
        "archive ends early)\n");
    std::mt19937 random(20261207);
    for (int run = 0; run < 2000; run++) {
        std::vector<std::string> args(random() % 7);
        for (std::string &arg : args)
            arg = pool[random() % pool.size()];
        RunResult result = RunVelorin(args);
        std::string shown = testing::PrintToString(args);
        ASSERT_TRUE(result.exitCode == 0 || result.exitCode == 1)
            << shown << " " << result.exitCode;
        EXPECT_TRUE(outputs.count(result.out)) << shown << ": " << result.out;
        EXPECT_TRUE(result.err.empty() || std::regex_match(result.err, errorLine))
            << shown << ": " << result.err;
        EXPECT_TRUE(result.exitCode != 1 || (result.out.empty() && result.err.empty())) << shown;
    }
}

TEST(Libraries, TooOldWindowLibraryEndsTheRunWithItsLineAndNoLineBreak)
{
    for (std::string library : {"intuition", "gadtools", "graphics"}) {
        RunOptions options;
        options.environment["VELORIN_HOST_LIBRARIES"] = library + ".library=35";
        RunResult result = RunVelorin({"-dest", "x", "-archive", "a.gz"}, options);
        EXPECT_EQ(result.exitCode, 0) << library;
        EXPECT_EQ(result.out, "Unable to open " + library + ".library");
        EXPECT_EQ(result.err, "");
    }
}

TEST(Libraries, StartUpFailuresEndBeforeMainWithReturnCode20)
{
    const std::vector<std::pair<std::string, std::string>> failures = {
        {"utility.library=missing",
         "System alert 0x3800C: cannot open utility.library version 50\n"},
        {"newlib.library=51", "System alert 0x3800E: cannot open newlib.library version 52\n"},
        {"dos.library=no-interface", "System alert 0x38007: cannot open dos.library version 50\n"},
        {"gadtools.library=missing", "ERROR: Failed to open 'gadtools.library'.\n"},
        {"intuition.library=missing", "ERROR: Failed to open 'intuition.library'.\n"},
        {"graphics.library=no-interface",
         "ERROR: Failed to get 'main' V1 interface for 'graphics.library'.\n"},
    };
    for (const auto &[control, message] : failures) {
        RunOptions options;
        options.environment["VELORIN_HOST_LIBRARIES"] = control;
        RunResult result = RunVelorin({}, options);
        EXPECT_EQ(result.exitCode, 20) << control;
        EXPECT_EQ(result.err, message);
        /* main never ran: no "Missing destination". */
        EXPECT_EQ(result.out, "");
    }
    /* Without an error stream the message goes to standard output. */
    RunOptions options;
    options.environment["VELORIN_HOST_LIBRARIES"] = "graphics.library=missing";
    options.closeStandardError = true;
    RunResult result = RunVelorin({}, options);
    EXPECT_EQ(result.exitCode, 20);
    EXPECT_EQ(result.out, "ERROR: Failed to open 'graphics.library'.\n");
}

TEST(Libraries, WindowLibrariesAreOpenedTwiceAndClosedTwice)
{
    TempDir dir;
    RunResult result = RunVelorin({"-archive", ExampleArchive(dir), "-dest", dir.Path()});
    EXPECT_EQ(result.exitCode, 1);
    for (std::string library : {"intuition", "gadtools", "graphics"})
        EXPECT_NE(result.balanceReport.find(
                      library + ".library opened 2 closed 2 interface taken 1 dropped 1"),
                  std::string::npos)
            << result.balanceReport;
}

} // namespace

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../platform/presentation/terminal/Pager.h"
#include "../platform/text/WrapText.h"
#include "../tools/LicenseFile.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include "support/Tmux.h"
#include "support/XClient.h"

namespace
{

std::vector<TextUnit> Units(const std::string &text)
{
    std::vector<TextUnit> units;
    for (char c : text)
        units.push_back({std::string(1, c), size_t(c == 'W' ? 2 : 1)});
    return units;
}

TEST(LicenseText, LinesAreWrappedBetweenWordsKeepingIndentsAndCutOnlyLongWords)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(WrapUnits(Units("one two three four"), 9), (Lines{"one two", "three", "four"}));
    EXPECT_EQ(WrapUnits(Units("  indented text"), 10), (Lines{"  indented", "text"}));
    EXPECT_EQ(WrapUnits(Units("abcdefghijkl xy"), 5), (Lines{"abcde", "fghij", "kl xy"}));
    /* A character two columns wide never straddles the edge. */
    EXPECT_EQ(WrapUnits(Units("abWW"), 5), (Lines{"abW", "W"}));
    EXPECT_EQ(WrapUnits(Units(""), 5), (Lines{""}));
    EXPECT_EQ(SplitTextLines("a\r\nb\rc\fd\n\ne\tf\n"),
              (Lines{"a", "b", "c", "d", "", "e       f"}));
}

TEST(LicenseText, OnlyPlainUtf8TextIsALicence)
{
    std::string error;
    EXPECT_TRUE(CheckLicenseText("Terms \xc3\xa9\xe2\x80\x94\xf0\x9f\x99\x82\r\n\tand\f\n", error));
    for (const char *bad : {"caf\xe9\n", "overlong \xc0\xaf", "surrogate \xed\xa0\x80",
                            "cut \xe2\x80", "beyond \xf4\x90\x80\x80"})
        EXPECT_FALSE(CheckLicenseText(bad, error)) << bad;
    EXPECT_FALSE(CheckLicenseText("one\ntwo \x1b[2J\n", error));
    EXPECT_EQ(error, "holds the control character U+001B (line 2); a licence is plain text");
    EXPECT_FALSE(CheckLicenseText("C1 \xc2\x9b", error));
    EXPECT_FALSE(CheckLicenseText(" \n\n", error));
    EXPECT_EQ(error, "is empty");
}

TEST(LicensePager, KeysAreReadFromEveryFormTerminalsSendEvenWhenSplit)
{
    PagerKeys keys;
    using Keys = std::vector<PagerKey>;
    EXPECT_EQ(keys.Decode("\x1b[A\x1bOB \x1b[5~\x1b[6~", 16),
              (Keys{PagerKey::UP, PagerKey::DOWN, PagerKey::PAGE_DOWN, PagerKey::PAGE_UP,
                    PagerKey::PAGE_DOWN}));
    EXPECT_EQ(keys.Decode("\x1b[", 2), Keys{});
    EXPECT_EQ(keys.Decode("1~\x1b[F", 5), (Keys{PagerKey::HOME, PagerKey::END}));
    /* Letters inside a sequence are not keys of their own. */
    EXPECT_EQ(keys.Decode("\x1b[1;5Dqyx", 9), (Keys{PagerKey::QUIT, PagerKey::YES}));
}

TEST(LicensePager, TheQuestionTakesAnAnswerOnlyOnceAskedAtTheEndOrAfterQ)
{
    std::vector<std::string> lines(30, "text");
    PagerView view(lines, "Accept?");
    view.SetRows(11);
    bool accepted = false;
    EXPECT_FALSE(view.Take(PagerKey::YES, accepted)) << "y while reading scrolls nothing away";
    EXPECT_EQ(view.GetStatus(), "-- lines 1-10 of 30: space, arrows, q when read --");
    view.Take(PagerKey::PAGE_DOWN, accepted);
    view.Take(PagerKey::PAGE_DOWN, accepted);
    view.Take(PagerKey::PAGE_DOWN, accepted);
    EXPECT_EQ(view.GetTop(), 20u);
    EXPECT_TRUE(view.IsAsking());
    EXPECT_EQ(view.GetStatus(), "Accept? [y/n] (lines 21-30 of 30)");
    EXPECT_TRUE(view.Take(PagerKey::NO, accepted));
    EXPECT_FALSE(accepted);

    PagerView shortText({"one line"}, "Accept?");
    shortText.SetRows(24);
    EXPECT_TRUE(shortText.IsAsking());
    PagerView quit(lines, "Accept?");
    quit.SetRows(11);
    quit.Take(PagerKey::QUIT, accepted);
    EXPECT_TRUE(quit.Take(PagerKey::YES, accepted));
    EXPECT_TRUE(accepted);
}

/* A package with a licence of 60 numbered lines and a command that records
   that it ran. */
class InstallerLicense : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "src").c_str(), 0777);
        mkdir((dir_ / "out").c_str(), 0777);
        WriteFile(dir_ / "src/readme.txt", "read me\n");
        for (int i = 1; i <= 60; i++)
            license_ += "Clause " + std::to_string(i) + " of the licence.\n";
        WriteFile(dir_ / "license.txt", license_);
    }

    void Make(const std::string &command = "echo ran > \"$RECORD\"",
              const std::string &license = "license.txt")
    {
        RunResult made = RunPack({dir_ / "src", installer_, "-installer", "-stub", VELORIN_BINARY,
                                  "-run", command, "-license", dir_ / license});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    RunOptions Options(const std::string &presentation = "headless")
    {
        RunOptions options;
        options.environment["VELORIN_HOST_PRESENTATION"] = presentation;
        AddVelorinControls(options, dir_ / "balance");
        options.environment["RECORD"] = dir_ / "record";
        return options;
    }

    void ExpectNothingDone()
    {
        EXPECT_FALSE(Exists(dir_ / "out/readme.txt"));
        EXPECT_FALSE(Exists(dir_ / "record"));
    }

    TempDir dir_;
    std::string installer_ = dir_ / "app.run";
    std::string license_;
};

TEST_F(InstallerLicense, PackingRefusesWhatIsNotALicenceAndLeavesNothing)
{
    WriteFile(dir_ / "latin1.txt", "Licence \xe9t\xe9\n");
    WriteFile(dir_ / "huge.txt", std::string(1048577, 'a'));
    for (const char *file : {"latin1.txt", "huge.txt", "missing.txt"}) {
        RunResult made = RunPack({dir_ / "src", installer_, "-installer", "-stub", VELORIN_BINARY,
                                  "-license", dir_ / file});
        EXPECT_EQ(made.exitCode, 1) << file;
        EXPECT_NE(made.err.find(std::string("the licence ") + (dir_ / file)), std::string::npos)
            << made.err;
        EXPECT_FALSE(Exists(installer_));
    }
    EXPECT_EQ(RunPack({dir_ / "src", installer_, "-license", dir_ / "license.txt"}).exitCode, 2);
}

TEST_F(InstallerLicense, AScriptMustAcceptAndCanReadTheLicence)
{
    Make();
    RunResult refused = RunProgram(installer_, {"-dest", dir_ / "out"}, Options());
    EXPECT_EQ(refused.exitCode, 122);
    EXPECT_NE(refused.err.find("-accept accepts it; nothing was unpacked or run"),
              std::string::npos)
        << refused.err;
    ExpectNothingDone();
    mkdir((dir_ / "tmp").c_str(), 0700);
    RunOptions inTemporary = Options();
    inTemporary.environment["TMPDIR"] = dir_ / "tmp";
    EXPECT_EQ(RunProgram(installer_, {}, inTemporary).exitCode, 122);
    EXPECT_EQ(rmdir((dir_ / "tmp").c_str()), 0) << "no temporary directory is made";

    RunResult printed = RunProgram(installer_, {"-LICENSE"}, Options());
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_EQ(printed.out, license_);
    RunResult help = RunProgram(installer_, {"-help"}, Options());
    EXPECT_NE(help.out.find("It carries a licence"), std::string::npos) << help.out;

    RunResult accepted = RunProgram(installer_, {"-accept", "-dest", dir_ / "out"}, Options());
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
    EXPECT_EQ(ReadFile(dir_ / "record"), "ran\n");
    ExpectBalanced(ReadFile(dir_ / "balance"));
}

/* The installer in tmux, as a person runs it. */
class LicenseInTerminal : public InstallerLicense, protected TmuxServer
{
  protected:
    void SetUp() override
    {
        REQUIRE_LIVE_TOOLS("tmux", "stty");
        InstallerLicense::SetUp();
        Make();
        std::string run = "exec env -u DISPLAY -u WAYLAND_DISPLAY VELORIN_HOST_CLOCK=instant "
                          "LANG=C.UTF-8 RECORD=" +
                          Quote(dir_ / "record") + " " + Quote(installer_) + " -dest " +
                          Quote(dir_ / "out");
        Tmux({"new-session", "-d", "-x", "60", "-y", "12",
              RecordStatus(run, dir_.Path()) + "; sleep 600"});
        WaitForScreen("Clause 11 of");
    }

    void ExpectTerminalGivenBack()
    {
        std::string settings = ReadFile(dir_ / "stty");
        EXPECT_EQ(settings.find("-icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find(" -echo "), std::string::npos) << settings;
    }
};

TEST_F(LicenseInTerminal, ReadThroughAndAcceptedItUnpacksAndRuns)
{
    std::string screen = Screen();
    EXPECT_EQ(screen.find("Clause 12 of"), std::string::npos) << "one page less the status line";
    Tmux({"send-keys", "y", "Space", "Down"});
    screen = WaitForScreen("lines 13-23 of 60");
    EXPECT_NE(screen.find("Clause 23 of"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Clause 12 of"), std::string::npos) << screen;
    Tmux({"send-keys", "Up", "End"});
    WaitForScreen("Do you accept the licence? [y/n] (lines 50-60 of 60)");
    Tmux({"send-keys", "y"});
    EXPECT_EQ(WaitForStatus(dir_.Path()), 0);
    EXPECT_EQ(ReadFile(dir_ / "record"), "ran\n");
    EXPECT_NE(Screen().find("Do you accept the licence? [y/n] y"), std::string::npos) << Screen();
    ExpectTerminalGivenBack();
}

TEST_F(LicenseInTerminal, DeclinedItUnpacksNothing)
{
    Tmux({"send-keys", "q"});
    WaitForScreen("Do you accept the licence? [y/n] (lines 1-11 of 60)");
    Tmux({"send-keys", "n"});
    EXPECT_EQ(WaitForStatus(dir_.Path()), 122);
    EXPECT_NE(Screen().find("the licence was declined"), std::string::npos) << Screen();
    ExpectNothingDone();
    ExpectTerminalGivenBack();
}

TEST_F(LicenseInTerminal, InterruptedItAborts)
{
    Tmux({"send-keys", "C-c"});
    EXPECT_EQ(WaitForStatus(dir_.Path()), 130);
    ExpectNothingDone();
    ExpectTerminalGivenBack();
}

/* The installer on a display of its own, as started by a double click:
   no terminal at all (setsid), standard streams not terminals. */
class InstallerOnDesktop : public InstallerLicense
{
  protected:
    void SetUp() override
    {
        REQUIRE_LIVE_TOOLS("Xvfb", "xdotool", "setsid", "timeout");
        InstallerLicense::SetUp();
        display_ = std::make_unique<VirtualDisplay>();
        ASSERT_TRUE(display_->IsRunning());
    }

    std::unique_ptr<BackgroundProgram> Start(std::vector<std::string> args)
    {
        RunOptions options = Options("");
        options.environment["DISPLAY"] = display_->Name();
        args.insert(args.begin(), {"--wait", installer_});
        return std::make_unique<BackgroundProgram>(FindTool("setsid"), args, options);
    }

    std::string Xdotool(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"timeout", "30", "xdotool"});
        return RunTool(args, {{"DISPLAY", display_->Name()}});
    }

    /* The window's id and its geometry: x, y, width, height. */
    std::vector<long> WaitForWindow(const std::string &title)
    {
        std::string id;
        for (int i = 0; i < 300 && id.empty(); i++) {
            id = Xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"});
            id = id.substr(0, id.find('\n'));
            if (id.empty())
                usleep(100000);
        }
        if (id.empty()) {
            ADD_FAILURE() << "no window titled " << title;
            return {0, 0, 0, 0, 0};
        }
        std::vector<long> found = {std::stol(id)};
        std::istringstream lines(Xdotool({"getwindowgeometry", "--shell", id}));
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("X=", 0) == 0 || line.rfind("Y=", 0) == 0 ||
                line.rfind("WIDTH=", 0) == 0 || line.rfind("HEIGHT=", 0) == 0)
                found.push_back(std::stol(line.substr(line.find('=') + 1)));
        return found;
    }

    /* Clicks the window's button row at its left end (Accept), in its
       middle (a request's only button) or at its right end. */
    enum Place { LEFT, MIDDLE, RIGHT };
    void ClickButton(const std::vector<long> &window, Place place)
    {
        long x = place == LEFT     ? window[1] + 4 + 8 + 10
                 : place == MIDDLE ? window[1] + window[3] / 2
                                   : window[1] + window[3] - 4 - 8 - 10;
        long y = window[2] + window[4] - 13;
        Xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

    std::unique_ptr<VirtualDisplay> display_;
};

TEST_F(InstallerOnDesktop, LicenceWindowScrollsAndAcceptsOrDeclines)
{
    Make();
    auto run = Start({"-dest", dir_ / "out"});
    std::vector<long> window = WaitForWindow("Licence");
    XClient screen(display_->Name());
    std::vector<uint32_t> first = screen.Grab(window[1], window[2], window[3], window[4]);
    Xdotool({"key", "--window", std::to_string(window[0]), "Next"});
    Xdotool({"mousemove", std::to_string(window[1] + window[3] / 2),
             std::to_string(window[2] + window[4] / 2), "click", "5"});
    usleep(300000);
    std::vector<uint32_t> scrolled = screen.Grab(window[1], window[2], window[3], window[4]);
    EXPECT_NE(scrolled, first) << "not scrolled";
    /* A click in the bar above its knob goes back a page. */
    Xdotool({"mousemove", std::to_string(window[1] + window[3] - 4 - 8 - 6),
             std::to_string(window[2] + 40), "click", "1"});
    usleep(300000);
    EXPECT_NE(screen.Grab(window[1], window[2], window[3], window[4]), scrolled) << "not paged";
    ClickButton(window, LEFT);
    RunResult accepted = run->Finish(60);
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
    EXPECT_EQ(ReadFile(dir_ / "record"), "ran\n");
    ExpectBalanced(ReadFile(dir_ / "balance"));

    unlink((dir_ / "record").c_str());
    unlink((dir_ / "out/readme.txt").c_str());
    run = Start({"-dest", dir_ / "out"});
    ClickButton(WaitForWindow("Licence"), RIGHT);
    EXPECT_EQ(run->Finish(60).exitCode, 122);
    run = Start({"-dest", dir_ / "out"});
    XClient(display_->Name()).Close(WaitForWindow("Licence")[0]);
    EXPECT_EQ(run->Finish(60).exitCode, 122);
    ExpectNothingDone();
}

/* Nobody answered: as in a script, the refusal names -accept. */
TEST_F(InstallerOnDesktop, DisplayGoneWhileTheLicenceIsShownUnpacksNothing)
{
    Make();
    auto run = Start({"-dest", dir_ / "out"});
    WaitForWindow("Licence");
    display_->Kill();
    RunResult result = run->Finish(60);
    EXPECT_EQ(result.exitCode, 122);
    EXPECT_NE(result.err.find("-accept accepts it"), std::string::npos) << result.err;
    ExpectNothingDone();
}

TEST_F(InstallerOnDesktop, FailureStaysInAWindowUntilClosed)
{
    Make("exit 3");
    auto run = Start({"-accept", "-dest", dir_ / "missing"});
    std::vector<long> window = WaitForWindow("Installation failed");
    usleep(500000);
    int status;
    EXPECT_EQ(waitpid(run->Pid(), &status, WNOHANG), 0) << "the window must wait for the person";
    XClient(display_->Name()).Close(window[0]);
    RunResult failed = run->Finish(60);
    EXPECT_EQ(failed.exitCode, 125);
    EXPECT_NE(failed.err.find("Unable to change directory to"), std::string::npos) << failed.err;

    run = Start({"-accept", "-dest", dir_ / "out"});
    ClickButton(WaitForWindow("Installation failed"), MIDDLE);
    EXPECT_EQ(run->Finish(60).exitCode, 3);
    ExpectBalanced(ReadFile(dir_ / "balance"));
}

/* With a terminal, standard error reaches a person, and a failure ends at
   once, as without a licence or a window. */
TEST_F(InstallerOnDesktop, FailureInATerminalEndsWithoutAWindow)
{
    REQUIRE_LIVE_TOOLS("tmux");
    Make("exit 3");
    TmuxServer tmux;
    std::string run = "DISPLAY=" + display_->Name() + " VELORIN_HOST_CLOCK=instant " +
                      Quote(installer_) + " -accept -dest " + Quote(dir_ / "out") +
                      " </dev/null 2>/dev/null";
    tmux.Tmux({"new-session", "-d", RecordStatus(run, dir_.Path()) + "; sleep 600"});
    EXPECT_EQ(tmux.WaitForStatus(dir_.Path()), 3);
}

} // namespace

#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../platform/presentation/terminal/BoxRendering.h"
#include "../platform/presentation/terminal/DisplayText.h"
#include "../platform/window/TextLayout.h"
#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/HeldFile.h"
#include "support/LiveTools.h"
#include "support/ModelWindow.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace
{

/* The characters of a UTF-8 line, one string each. */
std::vector<std::string> SplitCharacters(const std::string &line)
{
    std::vector<std::string> characters;
    for (size_t at = 0; at < line.size();) {
        size_t length = 1;
        while (at + length < line.size() && (line[at + length] & 0xC0) == 0x80)
            length++;
        characters.push_back(line.substr(at, length));
        at += length;
    }
    return characters;
}

/* Columns a line takes: the ideographs used here take two, combining marks none. */
size_t CountColumns(const std::string &line)
{
    size_t columns = 0;
    for (const std::string &character : SplitCharacters(line)) {
        unsigned char lead = static_cast<unsigned char>(character[0]);
        if (character.size() == 3 && lead >= 0xe4 && lead <= 0xe9)
            columns += 2;
        else if (!(character.size() == 2 &&
                   (lead == 0xcc ||
                    (lead == 0xcd && static_cast<unsigned char>(character[1]) < 0xb0))))
            columns += 1;
    }
    return columns;
}

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

size_t CountOccurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

/* Velorin in tmux without a display; it waits for its held archive, so keys reach it before the
 * sizing pass. */
class TerminalWindow : public ::testing::Test, protected TmuxServer
{
  protected:
    void SetUp() override
    {
        REQUIRE_LIVE_TOOLS("tmux", "stty");
        mkdir((dir_ / "out").c_str(), 0777);
        WriteArchive(dir_ / "pkg.gz",
                     StreamBuilder().Directory("data").File("data/big.bin", data_).Bytes());
        archive_ = std::make_unique<HeldFile>(dir_ / "held.gz", ReadFile(dir_ / "pkg.gz"),
                                              HeldFile::AgainstReading);
    }

    void TearDown() override { KillServer(); }

    /* environment holds extra VAR=value words. */
    std::string VelorinCommand(const std::string &archive, const std::string &environment)
    {
        std::string velorin = "echo $$ > " + Quote(dir_ / "pid") +
                              "; exec env -u DISPLAY -u WAYLAND_DISPLAY VELORIN_HOST_CLOCK=instant "
                              "VELORIN_HOST_BALANCE_REPORT=" +
                              Quote(dir_ / "balance") + " " + environment + " " +
                              Quote(VELORIN_BINARY) + " -archive " + Quote(archive) + " -dest " +
                              Quote(dir_ / "out");
        return RecordStatus(velorin, dir_.Path());
    }

    void Start(const std::string &archive, int width = 100, int height = 30,
               const std::string &environment = "")
    {
        Tmux({"new-session", "-d", "-x", std::to_string(width), "-y", std::to_string(height),
              VelorinCommand(archive, environment) + "; sleep 600"});
    }

    /* Presses Abort before the archive is read: the request comes at the first update. */
    std::string AbortAtFirstUpdate(const std::string &keys = "a")
    {
        WaitForScreen("[a] Abort");
        Tmux({"send-keys", keys});
        archive_->Release();
        return WaitForScreen("[y/n]");
    }

    void UseArchive(const StreamBuilder &builder)
    {
        WriteArchive(dir_ / "pkg.gz", builder.Bytes());
        archive_.reset();
        unlink((dir_ / "held.gz").c_str());
        archive_ = std::make_unique<HeldFile>(dir_ / "held.gz", ReadFile(dir_ / "pkg.gz"),
                                              HeldFile::AgainstReading);
    }

    /* A directory where a file lands; the error pause takes the real clock's time. */
    std::string StartWithErrorPause()
    {
        UseArchive(StreamBuilder().Directory("docs").File("docs/readme", "hello"));
        mkdir((dir_ / "out/docs").c_str(), 0777);
        mkdir((dir_ / "out/docs/readme").c_str(), 0777);
        Start(dir_ / "held.gz", 100, 30, "VELORIN_HOST_CLOCK=");
        WaitForScreen("[a] Abort");
        archive_->Release();
        return WaitForScreen("Unable to create file docs/readme");
    }

    int WaitForReturnCode() { return WaitForStatus(dir_.Path()); }

    /* Lines read whole with echo, and a visible cursor. */
    void ExpectTerminalRestored(bool balanced = true)
    {
        std::string settings = ReadFile(dir_ / "stty");
        EXPECT_EQ(settings.find("-icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find(" -echo "), std::string::npos) << settings;
        EXPECT_EQ(Tmux({"display-message", "-p", "#{cursor_flag}"}), "1\n");
        if (balanced)
            ExpectBalanced(ReadFile(dir_ / "balance"));
    }

    TempDir dir_;
    std::string data_ = MakeData(300000, 9);
    std::unique_ptr<HeldFile> archive_;
};

TEST_F(TerminalWindow, AbortKeyThenYesStopsAfterTheFirstPiece)
{
    Start(dir_ / "held.gz");
    std::string screen = WaitForScreen("[a] Abort");
    EXPECT_NE(screen.find("Unpacking..."), std::string::npos) << screen;

    Tmux({"send-keys", "a"});
    /* The press is taken while the archive is held, before any piece. */
    WaitForScreen("[a] Abort (pressed)");
    archive_->Release();
    screen = WaitForScreen("Are you sure you want to abort the installation? [y/n]");
    EXPECT_NE(screen.find("Abort Operation"), std::string::npos) << screen;
    EXPECT_NE(screen.find("data/big.bin"), std::string::npos) << "the message line:\n" << screen;
    /* One piece of 65535 bytes out of 300000: both gauges at 21. */
    size_t fileGauge = screen.find(" 21 %");
    ASSERT_NE(fileGauge, std::string::npos) << screen;
    EXPECT_NE(screen.find(" 21 %", fileGauge + 1), std::string::npos) << screen;
    Tmux({"send-keys", "y"});

    EXPECT_EQ(WaitForReturnCode(), 2);
    std::string written = ReadFile(dir_ / "out/data/big.bin");
    EXPECT_EQ(written.size(), 65535u);
    EXPECT_TRUE(written == data_.substr(0, written.size()));
    ExpectTerminalRestored();
}

TEST_F(TerminalWindow, InterruptThenNoFinishesTheRun)
{
    Start(dir_ / "held.gz");
    AbortAtFirstUpdate("C-c");
    Tmux({"send-keys", "n"});

    EXPECT_EQ(WaitForReturnCode(), 1);
    EXPECT_TRUE(ReadFile(dir_ / "out/data/big.bin") == data_);
    std::string screen = Screen();
    EXPECT_NE(screen.find("100 %"), std::string::npos) << "the last state stays on view:\n"
                                                       << screen;
    ExpectTerminalRestored();
}

TEST_F(TerminalWindow, NamesCannotDriveTheTerminal)
{
    /* A name that would retitle the terminal, in an entry that fails so its line stays on view. */
    WriteArchive(dir_ / "evil.gz",
                 StreamBuilder().File("x/\u202Eexe.txt\x1b]2;pwned\x07", "data").Bytes());
    Start(dir_ / "evil.gz", 100, 30, "LC_ALL=C.UTF-8");
    EXPECT_EQ(WaitForReturnCode(), 0);
    std::string screen = Screen();
    EXPECT_NE(screen.find("Unable to create file x/\\xe2\\x80\\xaeexe.txt\\x1b]2;pwned"),
              std::string::npos)
        << screen;
    EXPECT_NE(RunPack({"-list", dir_ / "evil.gz"}).out.find("x/\\xe2\\x80\\xaeexe.txt"),
              std::string::npos);
    EXPECT_EQ(Tmux({"display-message", "-p", "#{pane_title}"}).find("pwned"), std::string::npos);
    ExpectTerminalRestored();
}

/* A gauge's cells inside the box: filled from the left without a gap, as far as its label says. */
void ExpectFilledAsLabelled(const std::vector<std::string> &row)
{
    std::string text;
    for (const std::string &cell : row)
        text += cell;
    std::smatch label;
    ASSERT_TRUE(std::regex_search(text, label, std::regex("([0-9]+) %"))) << text;
    size_t filled = 0, labelStart = 0, labelEnd = 0;
    for (size_t c = 0; c < row.size(); c++) {
        if (row[c] == "\u2588")
            filled = c + 1;
        if (row[c] == "%" || std::isdigit(static_cast<unsigned char>(row[c][0]))) {
            labelStart = labelStart == 0 ? c : labelStart;
            labelEnd = c + 1;
        }
    }
    for (size_t c = 0; c < filled; c++)
        EXPECT_TRUE(row[c] == "\u2588" || std::isdigit(static_cast<unsigned char>(row[c][0])) ||
                    row[c] == "%" || (row[c] == " " && c + 1 < row.size() && row[c + 1] == "%"))
            << "cell " << c << " of " << text;
    /* Under the label only colour shows the fill, which the text cannot tell. */
    double expected = std::stoi(label[1]) * double(row.size()) / 100.0;
    if (expected < double(labelStart) - 1 || expected > double(labelEnd) + 1)
        EXPECT_LE(std::abs(double(filled) - expected), 1.5) << text;
    else
        EXPECT_GE(filled + 1, labelStart) << text;
}

class TerminalRendering : public ModelWindowTest
{
  protected:
    std::vector<std::string> Render(int width)
    {
        TerminalCapabilities terminal;
        terminal.lastColumnUsable = true;
        HostWindow &model = Model();
        TerminalScene scene = {{{&model, model.texts, model.laidOutText, model.laidOutFromEnd}},
                               width,
                               30,
                               "",
                               nullptr};
        return RenderScene(terminal, scene);
    }
};

TEST_F(TerminalRendering, GaugesFillAsLabelledAndKeepTheirRightEdge)
{
    for (long screenWidth : {640, 1260, 2000}) {
        UseScreen(screenWidth, 600);
        OpenProgressWindow();
        for (int width : {40, 80, 200}) {
            for (int percentage = 0; percentage <= 100; percentage++) {
                DrawGauge(percentage, 0);
                DrawGauge(100 - percentage, 1);
                std::vector<std::string> lines = Render(width);
                bool box = lines.front().rfind("\u250c", 0) == 0;
                int gauges = 0;
                for (const std::string &line : lines) {
                    if (line.find('%') == std::string::npos)
                        continue;
                    gauges++;
                    /* The gauge's right edge, then the box's, if any. */
                    std::vector<std::string> cells = SplitCharacters(line);
                    if (box)
                        cells.pop_back();
                    while (!cells.empty() && cells.back() == " ")
                        cells.pop_back();
                    ASSERT_FALSE(cells.empty());
                    EXPECT_EQ(cells.back(), "\u2502")
                        << screenWidth << " pixels, " << width << " columns: " << line;
                    if (box)
                        ExpectFilledAsLabelled({cells.begin() + 1, cells.end() - 1});
                }
                EXPECT_EQ(gauges, 2);
            }
        }
        CloseInterface();
    }
}

/* The message line's cells between the box's edges. */
std::string FindMessageLine(const std::vector<std::string> &lines)
{
    std::vector<std::string> cells = SplitCharacters(lines.at(1));
    std::string text;
    for (size_t c = 1; c + 1 < cells.size(); c++)
        text += cells[c];
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

TEST_F(TerminalRendering, LongNamesKeepTheirEndAndShowTheCut)
{
    /* A path keeps its end after a mark, an error line its start; without UTF-8 the mark is "...".
     */
    OpenProgressWindow();
    const std::string ascii = "some/deeply/nested/directory/with/a/long/path/the-file-own-name.txt";
    const std::string wide =
        "data/\u540d\u524d\u306e\u30d5\u30a1\u30a4\u30eb\u540d\u524d\u306e\u30d5\u30a1\u30a4\u30eb/"
        "caf\u0065\u0301-\u540d\u524d\u540d\u524d.txt";
    setenv("LC_ALL", "C.UTF-8", 1);
    InitDisplayText();
    UpdateMessage(ascii.c_str(), 0);
    EXPECT_EQ(FindMessageLine(Render(80)), "\u2026/a/long/path/the-file-own-name.txt");
    UpdateMessage(wide.c_str(), 0);
    std::string shown = FindMessageLine(Render(80));
    EXPECT_EQ(shown, "\u2026/caf\u0065\u0301-\u540d\u524d\u540d\u524d.txt");
    UpdateMessage(("Unable to create file " + ascii).c_str(), 1);
    EXPECT_EQ(FindMessageLine(Render(80)), "Unable to create file some/deeply/nes\u2026");
    /* A character that reorders the text shows escaped, in the window as in the terminal. */
    UpdateMessage("bin/\u202Eexe.txt", 0);
    EXPECT_EQ(MeasureTextCells("\u202E", 3), 12u);
    EXPECT_EQ(FindMessageLine(Render(80)), "bin/\\xe2\\x80\\xaeexe.txt");
    /* Short enough for the window, too wide for the terminal's columns. */
    UpdateMessage("a/"
                  "\u540d\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d"
                  "\u524d\u540d\u524d\u540d.txt",
                  0);
    EXPECT_EQ(FindMessageLine(Render(80)), "\u2026\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d"
                                           "\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d.txt");

    /* The first of the three that is set and not empty decides. */
    const std::array<const char *, 3> settings[] = {{"", "", "en_GB.utf8"},
                                                    {"", "C", "C.UTF-8"},
                                                    {"", "de_DE.UTF-8@euro", ""},
                                                    {"POSIX", "C.UTF-8", "C.UTF-8"}};
    for (const auto &[all, ctype, lang] : settings) {
        setenv("LC_ALL", all, 1);
        setenv("LC_CTYPE", ctype, 1);
        setenv("LANG", lang, 1);
        InitDisplayText();
        UpdateMessage(ascii.c_str(), 0);
        bool utf8 = std::string(all).empty() && std::string(ctype) != "C";
        EXPECT_EQ(FindMessageLine(Render(80)),
                  std::string(utf8 ? "\u2026" : "...") + "/a/long/path/the-file-own-name.txt")
            << all << ", " << ctype << ", " << lang;
    }
    UpdateMessage("dir/\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9.txt", 0);
    EXPECT_EQ(FindMessageLine(Render(80)), "...\\xc3\\xa9\\xc3\\xa9\\xc3\\xa9.txt");
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        unsetenv(variable);
}

TEST_F(TerminalWindow, FollowsTheTerminalsSizeAndKeepsWhatWasOnIt)
{
    /* The shell's earlier lines stay through every resize; the request then fits 40 columns. */
    Tmux({"new-session", "-d", "-x", "100", "-y", "30",
          "for i in 1 2 3 4 5 6 7 8; do echo KEEP-ME-$i; done; " +
              VelorinCommand(dir_ / "held.gz", "") + "; sleep 600"});
    WaitForScreen("\u250c\u2500 Unpacking...");
    const std::pair<int, int> sizes[] = {{30, 12},  {60, 20},  {100, 8}, {45, 30},
                                         {200, 50}, {100, 30}, {40, 30}};
    for (const auto &[width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        Tmux({"resize-window", "-x", std::to_string(width), "-y", std::to_string(height)});
        bool box = width >= 40;
        std::string screen = WaitForScreenWhere(
            [&](const std::string &text) {
                return (text.find("\u250c") != std::string::npos) == box &&
                       text.find(box ? "\u2514\u2500 [a] Abort" : "\n[a] Abort") !=
                           std::string::npos;
            },
            box ? "the box" : "the compact form");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        screen = Screen();
        for (const std::string &line : SplitLines(screen))
            EXPECT_LE(CountColumns(line), size_t(width)) << screen;
        EXPECT_TRUE(box || CountOccurrences(screen, " 0 %") == 2u) << screen;
        std::string history = Tmux({"capture-pane", "-p", "-S", "-"});
        for (int i = 1; i <= 8; i++)
            EXPECT_EQ(CountOccurrences(history, "KEEP-ME-" + std::to_string(i) + "\n"), 1u)
                << history;
        EXPECT_LT(history.find("KEEP-ME-8"), history.find("[a] Abort")) << history;
        EXPECT_EQ(CountOccurrences(history, "[a] Abort"), 1u) << history;
        EXPECT_LE(CountOccurrences(history, "Unpacking..."), 1u) << history;
    }
    std::string screen = AbortAtFirstUpdate();
    EXPECT_NE(screen.find("Are you sure"), std::string::npos) << screen;
    for (const std::string &line : SplitLines(screen))
        EXPECT_LE(CountColumns(line), 40u) << screen;
    Tmux({"send-keys", "y"});
    EXPECT_EQ(WaitForReturnCode(), 2);
    std::string history = Tmux({"capture-pane", "-p", "-S", "-"});
    EXPECT_EQ(CountOccurrences(history, "KEEP-ME-1\n"), 1u) << history;
    ExpectTerminalRestored();
}

TEST_F(TerminalWindow, CtrlZGivesTheTerminalBackAndFgTakesItAgain)
{
    Tmux({"new-session", "-d", "-x", "100", "-y", "30", "env PS1='$ ' bash --norc --noprofile -i"});
    WaitForScreen("$");
    Tmux({"send-keys", "-l", "( " + VelorinCommand(dir_ / "held.gz", "") + " )"});
    Tmux({"send-keys", "Enter"});
    WaitForScreen("[a] Abort");

    Tmux({"send-keys", "C-z"});
    WaitForScreen("Stopped");
    EXPECT_EQ(Tmux({"display-message", "-p", "#{cursor_flag}"}), "1\n");

    Tmux({"send-keys", "-l", "fg"});
    Tmux({"send-keys", "Enter"});
    /* Drawn again under the shell's lines. The stop is the job's: the
       subshell around Velorin stops at once, and the shell's message may
       come before or after Velorin has moved below its box, so what is left
       of the first box is not looked at. */
    WaitForScreenWhere(
        [](const std::string &text) {
            size_t resumed = text.rfind("$ fg");
            return resumed != std::string::npos &&
                   text.find("[a] Abort", resumed) != std::string::npos;
        },
        "the box drawn again");
    /* Taken again: a single key, without Enter, presses Abort. */
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    AbortAtFirstUpdate();
    Tmux({"send-keys", "y"});
    EXPECT_EQ(WaitForReturnCode(), 2);
}

TEST_F(TerminalWindow, SecondInterruptEndsTheRunAtOnce)
{
    /* Busy at the archive's opening: the first Ctrl-C shows at once, the second ends the run. */
    Start(dir_ / "held.gz");
    WaitForScreen("[a] Abort");
    Tmux({"send-keys", "C-c"});
    WaitForScreen("[a] Abort (pressed)");
    Tmux({"send-keys", "C-c"});
    EXPECT_EQ(WaitForReturnCode(), 2);
    EXPECT_EQ(access((dir_ / "out/data").c_str(), F_OK), -1);
    ExpectTerminalRestored(false);
}

TEST_F(TerminalWindow, Utf8NamesShowWholeInAnEvenBoxWithoutLocaleFiles)
{
    /* Locale files hidden, as in a root that has none: wide and combining characters still show. */
    if (geteuid() != 0)
        GTEST_SKIP() << "hiding the locale files needs root";
    REQUIRE_LIVE_TOOLS("unshare");
    const std::string name = "data/\u00fcn\u00ef\u540d\u524de\u0301.bin";
    UseArchive(StreamBuilder().Directory("data").File(name, data_));
    Start(dir_ / "held.gz", 100, 30,
          "LC_ALL=C.UTF-8 unshare -m sh -c 'mount -t tmpfs none /usr/lib/locale && exec \"$0\" "
          "\"$@\"'");
    std::string screen = AbortAtFirstUpdate();
    EXPECT_NE(screen.find("\u2502" + name + " "), std::string::npos) << screen;
    size_t width = 0;
    for (const std::string &line : SplitLines(screen)) {
        std::vector<std::string> cells = SplitCharacters(line);
        if (cells.empty() || (cells[0] != "\u2502" && cells[0] != "\u250c" && cells[0] != "\u2514"))
            continue;
        if (width == 0)
            width = CountColumns(line);
        EXPECT_EQ(CountColumns(line), width) << screen;
        if (line.find(name) != std::string::npos) {
            EXPECT_EQ(CountOccurrences(line, "\u2502"), 2u) << line;
        }
    }
    Tmux({"send-keys", "y"});
    EXPECT_EQ(WaitForReturnCode(), 2);
    ExpectTerminalRestored();
}

TEST_F(TerminalWindow, DumbTerminalGetsPlainLines)
{
    WriteArchive(dir_ / "fails.gz", StreamBuilder().File("x/y", "data").Bytes());
    /* The pane's output is recorded from before velorin starts. */
    std::string gate = "while [ ! -e " + Quote(dir_ / "go") + " ]; do sleep 0.05; done; ";
    Tmux({"new-session", "-d", "-x", "100", "-y", "30",
          gate + VelorinCommand(dir_ / "fails.gz", "TERM=dumb") + "; sleep 600"});
    Tmux({"pipe-pane", "-o", "cat > " + Quote(dir_ / "output")});
    WriteFile(dir_ / "go", "");
    EXPECT_EQ(WaitForReturnCode(), 0);
    std::string output = ReadFile(dir_ / "output");
    EXPECT_NE(output.find("Unable to create file x/y"), std::string::npos) << output;
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
}

TEST_F(TerminalWindow, ErrorLinesComeWholeUnderTheBox)
{
    /* The box shows the system's text; the line with the host's reason comes under it. */
    const std::string line = "Unable to create file docs/readme: Is a directory";
    std::string screen = StartWithErrorPause();
    EXPECT_EQ(screen.find("Is a directory"), std::string::npos) << "not in the box's way:\n"
                                                                << screen;
    EXPECT_EQ(WaitForReturnCode(), 0);
    screen = WaitForScreen(line);
    std::vector<std::string> lines = SplitLines(screen);
    size_t bottom = 0, reported = 0;
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].find("\u2514") != std::string::npos)
            bottom = i;
        if (lines[i] == line)
            reported = i;
    }
    EXPECT_GT(reported, bottom) << screen;
    EXPECT_EQ(CountOccurrences(screen, "Is a directory"), 1u) << screen;
    ExpectTerminalRestored();
}

TEST_F(TerminalWindow, InterruptsDuringTheErrorPauseKeepTheFailure)
{
    /* Two Ctrl-C during the error pause end the run at once, as the failure it is. */
    StartWithErrorPause();
    Tmux({"send-keys", "C-c"});
    WaitForScreen("[a] Abort (pressed)");
    Tmux({"send-keys", "C-c"});
    EXPECT_EQ(WaitForReturnCode(), 0);
    WaitForScreen("Unable to create file docs/readme: Is a directory");
    ExpectTerminalRestored(false);
}

} // namespace

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
#include "../platform/presentation/terminal/RunSummary.h"
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

    /* The box is gone, and one line in its place says what was unpacked. */
    void ExpectOnlySummary(const std::string &summary)
    {
        /* Lines the terminal wrapped are joined again. */
        WaitForScreen(summary.substr(0, summary.find(' ')));
        std::string screen = Tmux({"capture-pane", "-p", "-J"});
        EXPECT_EQ(screen.find("Unpacking..."), std::string::npos) << screen;
        EXPECT_EQ(screen.find("[a] Abort"), std::string::npos) << screen;
        EXPECT_EQ(CountOccurrences(screen, summary), 1u) << screen;
        std::vector<std::string> lines = SplitLines(screen);
        EXPECT_EQ(lines.at(0).rfind(summary, 0), 0u) << screen;
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
    ExpectOnlySummary("Aborted after unpacking 1 file and 1 directory (65.5 kB) in ");
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
    ExpectOnlySummary("Unpacked 1 file and 1 directory (300.0 kB) in ");
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

/* A gauge's cells inside the box: filled from the left without a gap, as far as its label says,
   and a track after the fill. */
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
    for (size_t c = 0; c < row.size(); c++) {
        bool label = c + 1 >= labelStart && c <= labelEnd;
        if (c < filled)
            EXPECT_TRUE(row[c] == "\u2588" || label) << "cell " << c << " of " << text;
        else
            EXPECT_TRUE(row[c] == "\u2591" || label) << "cell " << c << " of " << text;
    }
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
    void SetUp() override
    {
        ModelWindowTest::SetUp();
        setenv("LC_ALL", "C.UTF-8", 1);
        InitDisplayText();
    }
    void TearDown() override
    {
        unsetenv("LC_ALL");
        InitDisplayText();
        ModelWindowTest::TearDown();
    }

    std::vector<std::string> Render(int width, const TerminalCapabilities &capabilities = {})
    {
        TerminalCapabilities terminal = capabilities;
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

TEST_F(TerminalRendering, BoxTakesTheTerminalsWidthWithOneEdgePerRow)
{
    /* Windows made for 40 and 80 columns (912 and 1872 pixels) and others, in terminals from
       the compact form's width to wider than the widest box. */
    for (long screenWidth : {640, 912, 1872, 2000}) {
        UseScreen(screenWidth, 600);
        OpenProgressWindow();
        UpdateMessage("data/file.bin", 0);
        for (int width : {39, 40, 41, 80, 100, 200}) {
            SCOPED_TRACE(std::to_string(screenWidth) + " pixels, " + std::to_string(width) +
                         " columns");
            bool box = width >= 40;
            size_t boxWidth = std::min(width, 80);
            for (int percentage = 0; percentage <= 100; percentage += 3) {
                DrawGauge(percentage, 0);
                DrawGauge(100 - percentage, 1);
                std::vector<std::string> lines = Render(width);
                ASSERT_EQ(lines.front().rfind("\u250c", 0) == 0, box) << lines.front();
                int gauges = 0;
                for (const std::string &line : lines) {
                    std::vector<std::string> cells = SplitCharacters(line);
                    if (!box) {
                        EXPECT_LE(cells.size(), size_t(width)) << line;
                        gauges += line.find('%') != std::string::npos;
                        continue;
                    }
                    ASSERT_EQ(cells.size(), boxWidth) << line;
                    if (cells[0] != "\u2502")
                        continue;
                    /* One edge each side: none inside, next to the box's own. */
                    EXPECT_EQ(cells.back(), "\u2502") << line;
                    EXPECT_NE(cells[1], "\u2502") << line;
                    EXPECT_NE(cells[cells.size() - 2], "\u2502") << line;
                    if (line.find('%') != std::string::npos) {
                        gauges++;
                        ExpectFilledAsLabelled({cells.begin() + 1, cells.end() - 1});
                    }
                }
                EXPECT_EQ(gauges, 2);
                if (box) {
                    EXPECT_EQ(lines.at(1).rfind("\u2502data/file.bin ", 0), 0u) << lines.at(1);
                }
            }
        }
        CloseInterface();
    }
}

TEST_F(TerminalRendering, BoxIsDrawnInTheTerminalsCharacterSet)
{
    OpenProgressWindow();
    UpdateMessage("data/\u00e9t\u00e9.txt", 0);
    DrawGauge(50, 0);
    const std::string enter = "\x1b(0", leave = "\x1b(B";
    TerminalCapabilities lineDrawing;
    lineDrawing.enterLineDrawing = enter;
    lineDrawing.exitLineDrawing = leave;
    lineDrawing.lineDrawingPairs = "``aaffggjjkkllmmnnooppqqrrssttuuvvwwxxyyzz{{||}}~~";

    /* UTF-8 whatever terminfo offers. */
    std::vector<std::string> lines = Render(60, lineDrawing);
    EXPECT_EQ(lines.front().rfind("\u250c\u2500 Unpacking... \u2500", 0), 0u) << lines.front();
    EXPECT_EQ(lines.front().find(enter), std::string::npos);

    setenv("LC_ALL", "C", 1);
    InitDisplayText();
    /* The terminal's line-drawing set, entered once for each run of its characters. */
    lines = Render(60, lineDrawing);
    EXPECT_EQ(lines.front().rfind(enter + "lq" + leave + " Unpacking... " + enter + "qq", 0), 0u)
        << lines.front();
    EXPECT_EQ(lines.at(1).rfind(enter + "x" + leave + "data/\\xc3\\xa9t", 0), 0u) << lines.at(1);
    EXPECT_NE(lines.at(2).find(enter + "x" + "aaaa"), std::string::npos) << lines.at(2);
    EXPECT_NE(lines.at(3).find("~~~~"), std::string::npos) << lines.at(3);
    /* Plain ASCII where there is none. */
    std::vector<std::string> ascii = Render(60);
    EXPECT_EQ(ascii.front().rfind("+- Unpacking... --", 0), 0u) << ascii.front();
    EXPECT_EQ(ascii.back().rfind("+- [a] Abort --", 0), 0u) << ascii.back();
    EXPECT_EQ(ascii.at(2).rfind("|###", 0), 0u) << ascii.at(2);
    EXPECT_NE(ascii.at(3).find("...."), std::string::npos) << ascii.at(3);
    for (const std::vector<std::string> &drawn : {lines, ascii})
        for (const std::string &line : drawn) {
            EXPECT_EQ(SplitCharacters(line).size(), line.size()) << "only ASCII: " << line;
            EXPECT_EQ(CountOccurrences(line, enter), CountOccurrences(line, leave)) << line;
        }
    for (const std::string &line : ascii)
        EXPECT_EQ(line.size(), 60u) << line;
}

TEST(RunSummary, SaysWhatWasUnpackedInReadableUnits)
{
    EXPECT_EQ(DescribeRun(1, 1, 1, 1, 40), "Unpacked 1 file and 1 directory (1 byte) in 0.0 s");
    EXPECT_EQ(DescribeRun(1, 0, 0, 0, 0), "Unpacked 0 files and 0 directories (0 bytes) in 0.0 s");
    EXPECT_EQ(DescribeRun(1, 2, 3, 999, 1250),
              "Unpacked 2 files and 3 directories (999 bytes) in 1.2 s");
    EXPECT_EQ(DescribeRun(2, 5, 1, 65535, 59949),
              "Aborted after unpacking 5 files and 1 directory (65.5 kB) in 59.9 s");
    EXPECT_EQ(DescribeRun(1, 9, 9, 999950, 59950).substr(35), "(1.0 MB) in 1 min 0 s");
    EXPECT_EQ(DescribeRun(1, 9, 9, 4294967295ULL * 300, 3723000).substr(35),
              "(1.3 TB) in 62 min 3 s");
    /* A failure says nothing here: its error lines do. */
    EXPECT_EQ(DescribeRun(0, 1, 1, 1, 1), "");
    EXPECT_EQ(DescribeRun(20, 1, 1, 1, 1), "");
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
    EXPECT_EQ(FindMessageLine(Render(40)), "\u2026/a/long/path/the-file-own-name.txt");
    UpdateMessage(wide.c_str(), 0);
    std::string shown = FindMessageLine(Render(40));
    EXPECT_EQ(shown, "\u2026/caf\u0065\u0301-\u540d\u524d\u540d\u524d.txt");
    UpdateMessage(("Unable to create file " + ascii).c_str(), 1);
    EXPECT_EQ(FindMessageLine(Render(40)), "Unable to create file some/deeply/nes\u2026");
    /* A character that reorders the text shows escaped, in the window as in the terminal. */
    UpdateMessage("bin/\u202Eexe.txt", 0);
    EXPECT_EQ(MeasureTextCells("\u202E", 3), 12u);
    EXPECT_EQ(FindMessageLine(Render(40)), "bin/\\xe2\\x80\\xaeexe.txt");
    /* Short enough for the window, too wide for the terminal's columns. */
    UpdateMessage("a/"
                  "\u540d\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d"
                  "\u524d\u540d\u524d\u540d.txt",
                  0);
    EXPECT_EQ(FindMessageLine(Render(40)), "\u2026\u524d\u540d\u524d\u540d\u524d\u540d\u524d\u540d"
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
        EXPECT_EQ(FindMessageLine(Render(40)),
                  std::string(utf8 ? "\u2026" : "...") + "/a/long/path/the-file-own-name.txt")
            << all << ", " << ctype << ", " << lang;
    }
    UpdateMessage("dir/\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9.txt", 0);
    EXPECT_EQ(FindMessageLine(Render(40)), "...\\xc3\\xa9\\xc3\\xa9\\xc3\\xa9.txt");
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        unsetenv(variable);
}

/* A terminal's width and what it can show: its columns, the locale, and its terminfo entry. */
struct TerminalKind {
    const char *name;
    int width;
    const char *environment;
    enum { UTF8, LINE_DRAWING, ASCII } characters;
};

class TerminalBox : public TerminalWindow, public ::testing::WithParamInterface<TerminalKind>
{
};

TEST_P(TerminalBox, TakesTheTerminalsWidthAndCharacterSetAndLeavesASummary)
{
    const TerminalKind &kind = GetParam();
    /* The terminal's input as it comes, from before velorin starts. */
    std::string gate = "while [ ! -e " + Quote(dir_ / "go") + " ]; do sleep 0.05; done; ";
    Tmux({"new-session", "-d", "-x", std::to_string(kind.width), "-y", "30",
          gate + VelorinCommand(dir_ / "held.gz", kind.environment) + "; sleep 600"});
    Tmux({"pipe-pane", "-o", "cat > " + Quote(dir_ / "output")});
    WriteFile(dir_ / "go", "");
    /* The window's frame and button are drawn as it opens, its gauges by the
       program a moment later: the box is looked at once both are shown. */
    std::string screen = WaitForScreenWhere(
        [](const std::string &text) {
            return text.find("[a] Abort") != std::string::npos &&
                   text.find(" 0 % ") != std::string::npos;
        },
        "the box with its gauges");
    const std::string edge = kind.characters == TerminalKind::UTF8           ? "\u2502"
                             : kind.characters == TerminalKind::LINE_DRAWING ? "x"
                                                                             : "|";
    size_t boxWidth = std::min(kind.width, 80);
    std::vector<std::string> lines = SplitLines(screen);
    /* The title, the two gauges and the button (no message before the archive is read), the keys.
     */
    ASSERT_GE(lines.size(), 5u) << screen;
    for (size_t i = 0; i < 5; i++) {
        std::vector<std::string> cells = SplitCharacters(lines[i]);
        ASSERT_EQ(cells.size(), boxWidth) << screen;
        if (i == 0 || i == 4)
            continue;
        /* One edge on each side, never two. */
        EXPECT_EQ(cells.front(), edge) << screen;
        EXPECT_EQ(cells.back(), edge) << screen;
        EXPECT_NE(cells[1], edge) << screen;
        EXPECT_NE(cells[cells.size() - 2], edge) << screen;
    }
    EXPECT_EQ(lines[4].find(kind.characters == TerminalKind::UTF8 ? "\u2514\u2500 [a] Abort \u2500"
                            : kind.characters == TerminalKind::ASCII ? "+- [a] Abort -"
                                                                     : "mq [a] Abort q"),
              0u)
        << screen;
    if (kind.characters == TerminalKind::UTF8) {
        EXPECT_EQ(lines[0].find("\u250c\u2500 Unpacking... \u2500"), 0u) << screen;
        EXPECT_NE(lines[1].find("\u2591 0 % \u2591"), std::string::npos) << screen;
    } else {
        EXPECT_EQ(lines[0].find(kind.characters == TerminalKind::ASCII ? "+- Unpacking... -"
                                                                       : "lq Unpacking... q"),
                  0u)
            << screen;
        /* Nothing but ASCII reaches a terminal that does not take UTF-8. */
        std::string output = ReadFile(dir_ / "output");
        for (char byte : output)
            ASSERT_LT(static_cast<unsigned char>(byte), 0x80) << output;
        EXPECT_EQ(output.find('\x0e') != std::string::npos,
                  kind.characters == TerminalKind::LINE_DRAWING);
    }
    archive_->Release();
    EXPECT_EQ(WaitForReturnCode(), 1);
    ExpectOnlySummary("Unpacked 1 file and 1 directory (300.0 kB) in ");
    ExpectTerminalRestored();
}

INSTANTIATE_TEST_SUITE_P(
    Terminals, TerminalBox,
    ::testing::Values(
        TerminalKind{"Utf8In40Columns", 40, "LC_ALL=C.UTF-8", TerminalKind::UTF8},
        TerminalKind{"LineDrawingIn80Columns", 80, "LANG=C", TerminalKind::LINE_DRAWING},
        TerminalKind{"Utf8In100Columns", 100, "LANG=en_GB.UTF-8", TerminalKind::UTF8},
        TerminalKind{"AsciiIn200Columns", 200, "LANG=C TERM=sun", TerminalKind::ASCII}),
    [](const ::testing::TestParamInfo<TerminalKind> &info) { return info.param.name; });

TEST_F(TerminalWindow, FollowsTheTerminalsSizeAndKeepsWhatWasOnIt)
{
    /* The shell's earlier lines stay through every resize; the request then fits 40 columns. */
    Tmux({"new-session", "-d", "-x", "100", "-y", "30",
          "for i in 1 2 3 4 5 6 7 8; do echo KEEP-ME-$i; done; " +
              VelorinCommand(dir_ / "held.gz", "") + "; sleep 600"});
    WaitForScreen("\u250c\u2500 Unpacking...");
    auto expectOneBox = [&](int width, bool noCopies) {
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
        EXPECT_EQ(CountOccurrences(screen, "[a] Abort"), 1u) << screen;
        EXPECT_LE(CountOccurrences(screen, "Unpacking..."), 1u) << screen;
        std::string history = Tmux({"capture-pane", "-p", "-S", "-"});
        for (int i = 1; i <= 8; i++)
            EXPECT_EQ(CountOccurrences(history, "KEEP-ME-" + std::to_string(i) + "\n"), 1u)
                << history;
        EXPECT_LT(history.find("KEEP-ME-8"), history.find("Unpacking...")) << history;
        if (noCopies) {
            EXPECT_EQ(CountOccurrences(history, "[a] Abort"), 1u) << history;
            EXPECT_LE(CountOccurrences(history, "Unpacking..."), 1u) << history;
        }
    };
    /* Slowly narrower and shorter, then back: nothing of the box is left in the scrollback. */
    for (const auto &[width, height] : {std::pair{30, 12}, std::pair{100, 30}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        Tmux({"resize-window", "-x", std::to_string(width), "-y", std::to_string(height)});
        expectOneBox(width, true);
    }
    /* Further sizes one by one, and a burst faster than the box is drawn: one box on the
       screen each time (a narrowing that rewraps the box past the screen's top may leave lines
       of it in the scrollback). */
    for (const auto &[width, height] :
         {std::pair{60, 20}, std::pair{45, 30}, std::pair{200, 50}, std::pair{40, 30}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        Tmux({"resize-window", "-x", std::to_string(width), "-y", std::to_string(height)});
        expectOneBox(width, false);
    }
    for (const auto &[width, height] : {std::pair{100, 30}, std::pair{50, 20}, std::pair{120, 40},
                                        std::pair{70, 25}, std::pair{40, 30}})
        Tmux({"resize-window", "-x", std::to_string(width), "-y", std::to_string(height)});
    expectOneBox(40, false);

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
       subshell around Velorin stops at once, and the shell's message and
       prompt may come before or after Velorin has moved below its box (the
       typed "fg" then begins a line of its own), so what is left of the
       first box is not looked at. */
    WaitForScreenWhere(
        [](const std::string &text) {
            size_t resumed = text.rfind("fg\n");
            bool typed = resumed != std::string::npos && resumed > 0 &&
                         (text[resumed - 1] == '\n' ||
                          (resumed >= 2 && text.compare(resumed - 2, 2, "$ ") == 0));
            return typed && text.find("[a] Abort", resumed) != std::string::npos;
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

TEST_F(TerminalWindow, ErrorLinesTakeTheBoxsPlaceWhole)
{
    /* The box shows the system's text; at the end the line with the host's reason takes the box's
       place, and no summary claims an unpacked run. */
    const std::string line = "Unable to create file docs/readme: Is a directory";
    std::string screen = StartWithErrorPause();
    EXPECT_EQ(screen.find("Is a directory"), std::string::npos) << "not in the box's way:\n"
                                                                << screen;
    EXPECT_EQ(WaitForReturnCode(), 0);
    screen = WaitForScreen(line);
    EXPECT_EQ(SplitLines(screen).at(0), line) << screen;
    EXPECT_EQ(screen.find("Unpacking..."), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Unpacked"), std::string::npos) << screen;
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

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/HeldFile.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include "support/XClient.h"

namespace
{

struct Geometry {
    unsigned long id = 0;
    long x = 0, y = 0, width = 0, height = 0;
};

/* Velorin's window on a display of its own, 1024 by 768, pressed with
   xdotool as a person would press it with the mouse. Velorin waits
   for its archive until the test lets it, so that Abort is always pressed
   before the sizing pass
   starts and answered at the first progress update of the writing pass. */
class DesktopWindow : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        REQUIRE_LIVE_TOOLS("Xvfb", "xdotool", "timeout");
        display_ = std::make_unique<VirtualDisplay>();
        ASSERT_TRUE(display_->IsRunning()) << "Xvfb did not start";
        mkdir((dir_ / "out").c_str(), 0777);
        WriteArchive(dir_ / "pkg.gz",
                     StreamBuilder().Directory("data").File("data/big.bin", data_).Bytes());
        archive_ = std::make_unique<HeldFile>(dir_ / "held.gz", ReadFile(dir_ / "pkg.gz"),
                                              HeldFile::AgainstReading);
    }

    std::string Xdotool(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"timeout", "30", "xdotool"});
        return RunTool(args, {{"DISPLAY", display_->Name()}});
    }

    /* Waits for a visible window with exactly this title. */
    Geometry WaitForWindow(const std::string &title)
    {
        std::string pattern = "^";
        for (char c : title)
            pattern += c == '.' ? std::string("\\.") : std::string(1, c);
        /* Asked again until it answers: a search fails outright when a
           window it looks at goes away meanwhile. */
        std::string id;
        for (int i = 0; i < 300 && id.empty(); i++) {
            id = Xdotool({"search", "--onlyvisible", "--name", pattern + "$"});
            id = id.substr(0, id.find('\n'));
            if (id.empty())
                usleep(100000);
        }
        Geometry geometry;
        if (id.empty()) {
            ADD_FAILURE() << "no window titled " << title;
            return geometry;
        }
        geometry.id = std::stoul(id);
        std::istringstream lines(Xdotool({"getwindowgeometry", "--shell", id}));
        for (std::string line; std::getline(lines, line);) {
            size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            std::string name = line.substr(0, equals);
            long value = std::stol(line.substr(equals + 1));
            if (name == "X")
                geometry.x = value;
            else if (name == "Y")
                geometry.y = value;
            else if (name == "WIDTH")
                geometry.width = value;
            else if (name == "HEIGHT")
                geometry.height = value;
        }
        return geometry;
    }

    void Click(long x, long y)
    {
        Xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

    /* Starts velorin, presses Abort (or closes the window, as a window
       manager's close button does) while it waits for its archive, and
       answers the request with the button at the given side. */
    RunResult RunAndAnswer(bool yes, bool close = false)
    {
        RunOptions options;
        options.environment["DISPLAY"] = display_->Name();
        options.environment["VELORIN_HOST_PRESENTATION"] = ""; /* chosen as for a person */
        BackgroundVelorin velorin({"-archive", dir_ / "held.gz", "-dest", dir_ / "out"}, options);

        Geometry progress = WaitForWindow("Unpacking...");
        /* A third of the screen wide (341 inside), ten font heights tall
           (80), 14 pixels from the left and 30 from the bottom. */
        EXPECT_EQ(progress.x, 14);
        EXPECT_EQ(progress.y, 658);
        EXPECT_EQ(progress.width, 341 + 8);
        /* The button: from gx = 7, 335 wide, its top 80 - 12 below the window's top. */
        if (close) {
            XClient(display_->Name()).Close(progress.id);
            /* Taken in at the window's next round, as a click is while
               xdotool lets go of the button. */
            usleep(200000);
        } else
            Click(progress.x + 7 + 335 / 2, progress.y + 80 - 12 + 6);
        archive_->Release();

        Geometry request = WaitForWindow("Abort Operation");
        EXPECT_GE(request.y, 0);
        EXPECT_LE(request.y + request.height, 768) << "the request must be on the display";
        /* Above the window it asks about, which stays in view. */
        EXPECT_LE(request.y + request.height, progress.y) << "the request covers the window";
        EXPECT_GE(request.x, 0);
        EXPECT_LE(request.x + request.width, 1024);
        /* Yes at the left edge of the button row, No at the right, each 16
           pixels in from the border; the row ends 10 pixels above the bottom. */
        long row = request.y + request.height - 10 - 7;
        Click(yes ? request.x + 4 + 16 + 10 : request.x + request.width - 4 - 16 - 10, row);
        return velorin.Finish(60);
    }

    TempDir dir_;
    std::string data_ = MakeData(300000, 7);
    std::unique_ptr<VirtualDisplay> display_;
    std::unique_ptr<HeldFile> archive_;
};

TEST_F(DesktopWindow, ErrorLineReadsWellAndAbortShowsUnavailableWhileItWaits)
{
    /* A directory where a file lands: an error line in the writing pass, with its real pause. */
    WriteArchive(dir_ / "fails.gz",
                 StreamBuilder().Directory("docs").File("docs/readme", "hello").Bytes());
    mkdir((dir_ / "out/docs").c_str(), 0777);
    mkdir((dir_ / "out/docs/readme").c_str(), 0777);
    RunOptions options;
    options.environment["DISPLAY"] = display_->Name();
    options.environment["VELORIN_HOST_PRESENTATION"] = "";
    options.environment["VELORIN_HOST_CLOCK"] = "";
    BackgroundVelorin velorin({"-archive", dir_ / "fails.gz", "-dest", dir_ / "out"}, options);
    Geometry progress = WaitForWindow("Unpacking...");
    XClient screen(display_->Name());
    ASSERT_TRUE(screen.IsOpen());
    /* The message line, from the window's inner top (title bar 10, border 1) on: dark red
       letters on the grey, each of the two the only colours there. */
    const uint32_t grey = 0xAAAAAA, red = 0x800000;
    std::vector<uint32_t> line;
    for (int i = 0; i < 100; i++) {
        line = screen.Grab(progress.x + 7, progress.y + 11, 200, 8);
        if (std::count(line.begin(), line.end(), red) > 20)
            break;
        usleep(20000);
    }
    EXPECT_GT(std::count(line.begin(), line.end(), red), 20);
    EXPECT_EQ(std::count(line.begin(), line.end(), red) +
                  std::count(line.begin(), line.end(), grey),
              long(line.size()));
    /* The button faded while the line waits: its label, across the middle of the button, in
       white rather than black. */
    std::vector<uint32_t> label =
        screen.Grab(progress.x + 7 + 335 / 2 - 20, progress.y + 80 - 12 + 2, 40, 8);
    EXPECT_GT(std::count(label.begin(), label.end(), 0xFFFFFFu), 20);
    EXPECT_EQ(std::count(label.begin(), label.end(), 0x000000u), 0);
    RunResult result = velorin.Finish(60);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("Unable to create file docs/readme: Is a directory"),
              std::string::npos)
        << result.err;
}

TEST_F(DesktopWindow, AbortConfirmedWithYesLeavesWholePiecesAndReturnsTwo)
{
    RunResult result = RunAndAnswer(true);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    std::string written = ReadFile(dir_ / "out/data/big.bin");
    EXPECT_EQ(written.size(), 65535u) << "the file holds the first piece, whole";
    EXPECT_TRUE(written == data_.substr(0, written.size()));
}

TEST_F(DesktopWindow, AbortAnsweredWithNoFinishesTheRun)
{
    RunResult result = RunAndAnswer(false);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(ReadFile(dir_ / "out/data/big.bin") == data_);
}

TEST_F(DesktopWindow, ClosedByTheWindowManagerAsksAsAbortDoes)
{
    RunResult result = RunAndAnswer(true, true);
    EXPECT_EQ(result.exitCode, 2) << result.err;
}

} // namespace

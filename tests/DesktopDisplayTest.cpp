#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/HeldFile.h"
#include "support/LiveTools.h"
#include "support/ModelWindow.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include "support/XClient.h"

namespace
{

using Clock = std::chrono::steady_clock;

/* Velorin on its own display, busy in one long call; the screen is compared with the model's
 * pixels. */
class DesktopDuringLongCall : public ModelWindowTest
{
  protected:
    void SetUp() override
    {
        ModelWindowTest::SetUp();
        REQUIRE_LIVE_TOOLS("Xvfb", "xdotool", "timeout");
        display_ = std::make_unique<VirtualDisplay>();
        ASSERT_TRUE(display_->IsRunning()) << "Xvfb did not start";
        client_ = std::make_unique<XClient>(display_->Name());
        ASSERT_TRUE(client_->IsOpen());
        ASSERT_EQ(mkdir((dir_ / "out").c_str(), 0777), 0);
        UseScreen(1024, 768);
        OpenProgressWindow();
    }

    void TearDown() override
    {
        velorin_.reset();
        ModelWindowTest::TearDown();
    }

    /* Its presentation chosen as for a person. */
    void Launch()
    {
        RunOptions options;
        options.environment["DISPLAY"] = display_->Name();
        options.environment["VELORIN_HOST_PRESENTATION"] = "";
        velorin_ = std::make_unique<BackgroundVelorin>(
            std::vector<std::string>{"-archive", dir_ / "pkg.gz", "-dest", dir_ / "out"}, options);
    }

    /* Launches velorin and waits for its window; the window's X id. */
    unsigned long Start()
    {
        Launch();
        std::string id;
        for (int i = 0; i < 300 && id.empty(); i++) {
            id = Xdotool({"search", "--onlyvisible", "--name", "^Unpacking\\.\\.\\.$"});
            id = id.substr(0, id.find('\n'));
            if (id.empty())
                usleep(100000);
        }
        EXPECT_FALSE(id.empty()) << "no window titled Unpacking...";
        return id.empty() ? 0 : std::stoul(id);
    }

    std::string Xdotool(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"timeout", "30", "xdotool"});
        return RunTool(args, {{"DISPLAY", display_->Name()}});
    }

    /* Waits for the model's window on the display; the number of pixels that still differ. */
    size_t WaitForModelOnScreen()
    {
        const HostWindow &model = Model();
        std::vector<uint32_t> expected;
        for (UBYTE pen : model.pixels) {
            const Colour &colour = model.screen->palette[pen];
            expected.push_back(uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 |
                               colour.blue);
        }
        size_t differing = expected.size();
        for (auto deadline = Clock::now() + std::chrono::seconds(20); Clock::now() < deadline;) {
            std::vector<uint32_t> shown =
                client_->Grab(model.LeftEdge, model.TopEdge, model.Width, model.Height);
            differing = 0;
            for (size_t i = 0; i < expected.size(); i++)
                differing += i >= shown.size() || shown[i] != expected[i];
            if (differing == 0)
                break;
            usleep(20000);
        }
        return differing;
    }

    TempDir dir_;
    std::unique_ptr<VirtualDisplay> display_;
    std::unique_ptr<XClient> client_;
    std::unique_ptr<BackgroundVelorin> velorin_;
};

/* Sizing 4 GiB of zeros gives no progress update for seconds: only the window's thread draws.
   A directory in the file's place ends the run; the name needs the fallback font and an escape. */
TEST_F(DesktopDuringLongCall, WindowIsShownWhileOneLargeFileIsSized)
{
    const std::string name = "\xD0\x96uk \xE8\x99\xAB.bin"; /* Жuk 虫.bin */
    WriteArchiveOfZeros(dir_ / "pkg.gz", name, UINT32_MAX);
    ASSERT_EQ(mkdir((dir_ / ("out/" + name)).c_str(), 0777), 0);
    UpdateMessage(("Preparing " + name).c_str(), 0);
    Launch();
    EXPECT_EQ(WaitForModelOnScreen(), 0u) << "message line and both gauges as the model drew them";
    RunResult result = velorin_->Finish(600);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "Unable to create file " + name + ": Is a directory\n");
}

/* Velorin held in the opening of the one file it writes, by a lease; both gauges still empty. */
class DesktopWhileOpeningAFile : public DesktopDuringLongCall
{
  protected:
    void SetUp() override
    {
        DesktopDuringLongCall::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        WriteArchive(dir_ / "pkg.gz", StreamBuilder().File("big.bin", data_).Bytes());
        held_ = std::make_unique<HeldFile>(dir_ / "out/big.bin", "an earlier version",
                                           HeldFile::AgainstWriting);
        UpdateMessage("big.bin", 0);
    }

    void TearDown() override
    {
        velorin_.reset();
        held_.reset();
        DesktopDuringLongCall::TearDown();
    }

    /* The window's X id once velorin waits in that opening. */
    unsigned long StartHeld()
    {
        unsigned long id = Start();
        EXPECT_TRUE(held_->WaitUntilWanted()) << "velorin never opened big.bin";
        return id;
    }

    /* Loses the window while velorin waits, or once it asks whether to abort:
       nobody can confirm, so the run goes on to its end without it. */
    void ExpectRunToGoOnAfter(const std::function<void(unsigned long)> &loseWindow,
                              const std::string &reported, bool asking = false)
    {
        unsigned long id = StartHeld();
        ASSERT_EQ(WaitForModelOnScreen(), 0u);
        if (asking) {
            HostGadget *abort = ListButtons(Model()).at(0);
            Xdotool({"mousemove",
                     std::to_string(Model().LeftEdge + abort->LeftEdge + abort->Width / 2),
                     std::to_string(Model().TopEdge + abort->TopEdge + abort->Height / 2), "click",
                     "1"});
        } else {
            loseWindow(id);
        }
        held_->Release();
        std::string request;
        for (int i = 0; asking && i < 300 && request.empty(); i++) {
            request = Xdotool({"search", "--onlyvisible", "--name", "^Abort Operation$"});
            if (request.empty())
                usleep(100000);
        }
        ASSERT_TRUE(!asking || !request.empty()) << "the request at the next progress update";
        if (asking)
            loseWindow(id);
        RunResult result = velorin_->Finish(120);
        display_->Signal(SIGCONT);
        EXPECT_EQ(result.exitCode, 1) << "every file unpacked; " << result.err;
        EXPECT_NE(result.err.find(reported), std::string::npos) << result.err;
        EXPECT_TRUE(ReadFile(dir_ / "out/big.bin") == data_);
    }

    std::string data_ = MakeData(4000000, 11);
    std::unique_ptr<HeldFile> held_;
};

TEST_F(DesktopWhileOpeningAFile, WindowIsShownAnswersPingsAndShowsAPressAtOnce)
{
    unsigned long id = StartHeld();
    EXPECT_EQ(WaitForModelOnScreen(), 0u) << "message line and both gauges as the model drew them";
    EXPECT_TRUE(client_->Ping(id, 1000))
        << "a ping from the window manager answered within a second";

    /* Hidden and shown again, as when uncovered: drawn again. */
    Xdotool({"windowunmap", "--sync", std::to_string(id)});
    Xdotool({"windowmap", "--sync", std::to_string(id)});
    EXPECT_EQ(WaitForModelOnScreen(), 0u) << "drawn again after an expose";

    /* Drawn pressed at once, though the program is busy; let go away from it, no request. */
    HostWindow &model = Model();
    HostGadget *abort = ListButtons(model).at(0);
    long buttonX = model.LeftEdge + abort->LeftEdge + abort->Width / 2;
    long buttonY = model.TopEdge + abort->TopEdge + abort->Height / 2;
    Xdotool({"mousemove", std::to_string(buttonX), std::to_string(buttonY), "mousedown", "1"});
    abort->pressed = true;
    DrawButton(model, *abort);
    EXPECT_EQ(WaitForModelOnScreen(), 0u) << "the Abort button shown pressed";

    Xdotool(
        {"mousemove", std::to_string(buttonX), std::to_string(model.TopEdge + 2), "mouseup", "1"});
    abort->pressed = false;
    DrawButton(model, *abort);
    EXPECT_EQ(WaitForModelOnScreen(), 0u);

    held_->Release();
    RunResult result = velorin_->Finish(120);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(ReadFile(dir_ / "out/big.bin") == data_);
}

TEST_F(DesktopWhileOpeningAFile, DisplayGoneTheRunGoesOnToItsEnd)
{
    ExpectRunToGoOnAfter(
        [&](unsigned long) {
            client_.reset(); /* the test's own connection would end the test */
            display_->Kill();
        },
        "Lost the connection to the display");
}

TEST_F(DesktopWhileOpeningAFile, DisplayGoneAnErrorLineReachesTheErrorStreamOnce)
{
    StartHeld();
    ASSERT_EQ(WaitForModelOnScreen(), 0u);
    client_.reset();
    display_->Kill();
    /* The window's thread hears of the loss at its next drawing, within
       some 20 ms: the error comes after it. */
    usleep(1000000);
    held_->Refuse();
    RunResult result = velorin_->Finish(120);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::string line = "Unable to create file big.bin";
    size_t first = result.err.find(line);
    ASSERT_NE(first, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(line, first + 1), std::string::npos) << result.err;
}

TEST_F(DesktopWhileOpeningAFile, WindowDestroyedByAnotherProgramTheRunGoesOnToItsEnd)
{
    ExpectRunToGoOnAfter(
        [&](unsigned long id) {
            Xdotool({"windowclose", std::to_string(id)});
        },
        "The window was destroyed from outside");
}

TEST_F(DesktopWhileOpeningAFile, DisplayGoneWhileAskingTheRunGoesOnAsNotConfirmed)
{
    ExpectRunToGoOnAfter(
        [&](unsigned long) {
            client_.reset();
            display_->Kill();
        },
        "Lost the connection to the display", true);
}

TEST_F(DesktopWhileOpeningAFile, DisplayStoppedWhileAskingTheRunGoesOnAsNotConfirmed)
{
    ExpectRunToGoOnAfter([&](unsigned long) { display_->Signal(SIGSTOP); },
                         "The display stopped answering", true);
}

TEST_F(DesktopWhileOpeningAFile, DisplayStopsAnsweringTheRunStillEnds)
{
    StartHeld();
    ASSERT_EQ(WaitForModelOnScreen(), 0u);
    display_->Signal(SIGSTOP);
    held_->Release();
    auto released = Clock::now();
    RunResult result = velorin_->Finish(60);
    double seconds = std::chrono::duration<double>(Clock::now() - released).count();
    display_->Signal(SIGCONT);
    EXPECT_EQ(result.exitCode, 1) << "ended without waiting for the display; " << result.err;
    EXPECT_LT(seconds, 6.0) << "the end waits three seconds for the display at most";
    EXPECT_TRUE(ReadFile(dir_ / "out/big.bin") == data_);
}

} // namespace

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/HeldArchive.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace {

std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

/* Velorin in a terminal of tmux, 100 columns by 30 lines, without a display,
   driven with keys as a person would drive it. As on the desktop,
   velorin waits for its archive until the test lets it, so the keys always
   reach velorin before its
   sizing pass and are answered at the first progress update. */
class TerminalWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"tmux", "stty"}) {
            if (!FindTool(tool).empty())
                continue;
            if (AreLiveTestsRequired())
                FAIL() << tool << " is not installed";
            GTEST_SKIP() << tool << " is not installed";
        }
        mkdir((dir_ / "out").c_str(), 0777);
        WriteArchive(dir_ / "pkg.gz", StreamBuilder().Directory("data").File("data/big.bin", data_).Bytes());
        archive_ = std::make_unique<HeldArchive>(dir_ / "held.gz", ReadFile(dir_ / "pkg.gz"));
        socket_ = "velorin-test-" + std::to_string(getpid());
    }

    void TearDown() override
    {
        if (!socket_.empty())
            Tmux({"kill-server"});
    }

    std::string Tmux(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"tmux", "-L", socket_, "-f", "/dev/null"});
        return RunTool(args);
    }

    /* Starts velorin in the terminal; the shell records its process number,
       its return code and the terminal's settings after it. */
    void Start(const std::string &archive)
    {
        std::string velorin = "echo $$ > " + Quote(dir_ / "pid") +
                              "; exec env -u DISPLAY -u WAYLAND_DISPLAY VELORIN_HOST_CLOCK=instant "
                              "VELORIN_HOST_BALANCE_REPORT=" + Quote(dir_ / "balance") + " " +
                              Quote(VELORIN_BINARY) + " -archive " + Quote(archive) +
                              " -dest " + Quote(dir_ / "out");
        std::string command = "sh -c " + Quote(velorin) + "; echo $? > " + Quote(dir_ / "rc.tmp") +
                              "; stty -a > " + Quote(dir_ / "stty") + "; mv " +
                              Quote(dir_ / "rc.tmp") + " " + Quote(dir_ / "rc") + "; sleep 600";
        Tmux({"new-session", "-d", "-x", "100", "-y", "30", command});
    }

    std::string Screen() { return Tmux({"capture-pane", "-p"}); }

    /* Waits up to 30 s for the terminal to show text. */
    std::string WaitForScreen(const std::string &text)
    {
        std::string screen;
        for (int i = 0; i < 300; i++) {
            screen = Screen();
            if (screen.find(text) != std::string::npos)
                return screen;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "the terminal never showed \"" << text << "\":\n" << screen;
        return screen;
    }

    /* Waits for velorin's end; its return code, or -1. */
    int WaitForReturnCode()
    {
        for (int i = 0; i < 600 && access((dir_ / "rc").c_str(), R_OK) != 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (access((dir_ / "rc").c_str(), R_OK) != 0) {
            ADD_FAILURE() << "velorin did not end:\n" << Screen();
            return -1;
        }
        return std::stoi(ReadFile(dir_ / "rc"));
    }

    pid_t VelorinPid() { return pid_t(std::stoi(ReadFile(dir_ / "pid"))); }

    /* The terminal as velorin found it: lines read whole with echo, and a
       visible cursor. */
    void ExpectTerminalRestored()
    {
        std::string settings = ReadFile(dir_ / "stty");
        EXPECT_EQ(settings.find("-icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find(" -echo "), std::string::npos) << settings;
        EXPECT_EQ(Tmux({"display-message", "-p", "#{cursor_flag}"}), "1\n");
        ExpectBalanced(ReadFile(dir_ / "balance"));
    }

    TempDir dir_;
    std::string data_ = MakeData(300000, 9);
    std::unique_ptr<HeldArchive> archive_;
    std::string socket_;
};

TEST_F(TerminalWindow, AbortKeyThenYesStopsAfterTheFirstPiece)
{
    Start(dir_ / "held.gz");
    std::string screen = WaitForScreen("[a] Abort");
    EXPECT_NE(screen.find("Unpacking..."), std::string::npos) << screen;

    Tmux({"send-keys", "a"});
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
    WaitForScreen("[a] Abort");
    Tmux({"send-keys", "C-c"});
    archive_->Release();
    WaitForScreen("[y/n]");
    Tmux({"send-keys", "n"});

    EXPECT_EQ(WaitForReturnCode(), 1);
    EXPECT_TRUE(ReadFile(dir_ / "out/data/big.bin") == data_);
    std::string screen = Screen();
    EXPECT_NE(screen.find("100 %"), std::string::npos) << "the last state stays on view:\n" << screen;
    ExpectTerminalRestored();
}

TEST_F(TerminalWindow, NamesCannotDriveTheTerminal)
{
    /* A name that would retitle the terminal, in an entry that fails, so
       that its error line stays on view. */
    WriteArchive(dir_ / "evil.gz",
                 StreamBuilder().File("x/\x1b]2;pwned\x07", "data").Bytes());
    Start(dir_ / "evil.gz");
    EXPECT_EQ(WaitForReturnCode(), 0);
    std::string screen = Screen();
    EXPECT_NE(screen.find("Unable to create file x/\\x1b]2;pwned"), std::string::npos) << screen;
    EXPECT_EQ(Tmux({"display-message", "-p", "#{pane_title}"}).find("pwned"), std::string::npos);
    ExpectTerminalRestored();
}

}  // namespace

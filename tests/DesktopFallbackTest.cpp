#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

using Clock = std::chrono::steady_clock;

/* One entry of an X authority file: a cookie for this machine's display
   number, as an X server and SSH's forwarding write them. */
std::string MakeAuthority(unsigned display, const std::string &cookie)
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string entry = {'\x01', '\x00'}; /* FamilyLocal, 256, big-endian */
    for (const std::string &field :
         {std::string(host), std::to_string(display), std::string("MIT-MAGIC-COOKIE-1"), cookie}) {
        entry += char(field.size() >> 8);
        entry += char(field.size() & 0xFF);
        entry += field;
    }
    return entry;
}

/* Velorin chosen its presentation as for a person, standard error not a
   terminal, with the given DISPLAY setting and authority file. */
class DesktopFallback : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        REQUIRE_LIVE_TOOLS("Xvfb");
        WriteArchive(dir_ / "pkg.gz", StreamBuilder().Directory("d").File("d/f", data_).Bytes());
        /* The cookie is the server's before it starts; the number it takes
           is only known after, and the server's own file names none. */
        WriteFile(dir_ / "server", MakeAuthority(0, cookie_));
        server_ = std::make_unique<VirtualDisplay>(
            std::vector<std::string>{"-listen", "tcp", "-auth", dir_ / "server"});
        ASSERT_TRUE(server_->IsRunning());
        WriteFile(dir_ / "granted", MakeAuthority(server_->Number(), cookie_));
        WriteFile(dir_ / "other", MakeAuthority(server_->Number(), std::string(16, 'x')));
    }

    struct Outcome {
        RunResult result;
        double seconds;
    };

    /* Unpacks with DISPLAY set to display, or unset. */
    Outcome Unpack(const std::optional<std::string> &display, const std::string &authority)
    {
        std::string out = dir_ / ("out" + std::to_string(++runs_));
        mkdir(out.c_str(), 0777);
        std::vector<std::string> command = {"-u", "DISPLAY"};
        if (display)
            command.push_back("DISPLAY=" + *display);
        command.insert(command.end(), {"XAUTHORITY=" + authority, VELORIN_BINARY, "-archive",
                                       dir_ / "pkg.gz", "-dest", out});
        RunOptions options;
        AddVelorinControls(options, dir_ / "balance");
        options.environment["VELORIN_HOST_PRESENTATION"] = "";
        options.environment["WAYLAND_DISPLAY"] = "wayland-0";
        auto start = Clock::now();
        Outcome outcome = {RunProgram(FindTool("env"), command, options), 0};
        outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(outcome.result.exitCode, 1)
            << display.value_or("unset") << ": " << outcome.result.err;
        EXPECT_TRUE(ReadFile(out + "/d/f") == data_);
        ExpectBalanced(ReadFile(dir_ / "balance"));
        return outcome;
    }

    /* The run fell back to no window, saying so in one line that holds
       why. */
    void ExpectFallback(const Outcome &outcome, const std::optional<std::string> &display,
                        const std::string &why)
    {
        const std::string &err = outcome.result.err;
        std::string start =
            display ? "No window on the display \"" + *display + "\": " : "No window: ";
        EXPECT_EQ(err.rfind(start, 0), 0u) << err;
        EXPECT_NE(err.find(why), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_NE(err.find("; unpacking goes on without a window\n"), std::string::npos) << err;
    }

    TempDir dir_;
    int runs_ = 0;
    std::string data_ = MakeData(300000, 3);
    std::string cookie_ = "0123456789abcdef";
    /* A server that asks for a cookie, on its socket and on TCP. */
    std::unique_ptr<VirtualDisplay> server_;
};

TEST_F(DesktopFallback, DisplayThatCannotBeUsedIsSaidInOneLineAtOnce)
{
    /* A display number that no server holds, on the socket and on TCP. */
    std::string free = ":" + std::to_string(server_->Number() + 1000);
    const std::string granted = dir_ / "granted", other = dir_ / "other";
    const std::vector<std::tuple<std::string, std::string, std::string>> settings = {
        {free, granted, "No such file or directory"},
        {"localhost" + free + ".0", granted, "Connection refused"},
        {"[::1]" + free, granted, "Connection refused"},
        {"", granted, "DISPLAY is empty"},
        {"nowhere.example" + server_->Name(), granted, "looked up by name"},
        {"localhost" + server_->Name() + ".3", granted, "has no screen 3"},
        {server_->Name(), other, "the X server refused the connection: Invalid MIT-MAGIC-COOKIE-1"},
        {server_->Name(), dir_ / "missing", "refused the connection: Authorization required"},
    };
    for (const auto &[display, authority, why] : settings) {
        Outcome outcome = Unpack(display, authority);
        ExpectFallback(outcome, display, why);
        EXPECT_LT(outcome.seconds, 2.0) << display;
    }
    ExpectFallback(Unpack(std::nullopt, dir_ / "other"), std::nullopt, "offers no X display");
}

TEST_F(DesktopFallback, DisplayThatStopsAnsweringIsGivenUpAfterTwoSeconds)
{
    server_->Signal(SIGSTOP);
    Outcome outcome = Unpack(server_->Name(), dir_ / "granted");
    server_->Signal(SIGCONT);
    ExpectFallback(outcome, server_->Name(), "did not answer within 2 seconds");
    EXPECT_GE(outcome.seconds, 2.0);
    EXPECT_LT(outcome.seconds, 4.0);
}

/* The cookie found for the socket and for the loopback address that SSH's
   forwarding uses: the window is shown, and nothing is said. */
TEST_F(DesktopFallback, AuthorisedDisplayIsUsedOverItsSocketAndOverTcp)
{
    for (const std::string &display :
         {server_->Name(), "unix" + server_->Name(), "localhost" + server_->Name() + ".0",
          "127.0.0.1" + server_->Name()})
        EXPECT_EQ(Unpack(display, dir_ / "granted").result.err, "") << display;
}

} // namespace

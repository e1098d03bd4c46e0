#ifndef TESTS_SUPPORT_LIVE_TOOLS_H
#define TESTS_SUPPORT_LIVE_TOOLS_H

#include <string>
#include <vector>

#include <sys/types.h>

/* The outside programs that the tests of the desktop window and the terminal
   drive (Xvfb, xdotool, tmux). Without them those tests are skipped, unless
   VELORIN_REQUIRE_LIVE_TESTS=1, as the test script sets, makes that a failure. */

/* The program's path, or "" when it is not on PATH. */
std::string FindTool(const std::string &name);

/* Whether a missing tool must fail the test instead of skipping it. */
bool AreLiveTestsRequired();

/* In a test or its SetUp: fails, or skips where live tests are not
   required, when one of the named tools is not installed. */
#define REQUIRE_LIVE_TOOLS(...)                                                                    \
    for (const char *liveTool : {__VA_ARGS__})                                                     \
        if (FindTool(liveTool).empty()) {                                                          \
            if (AreLiveTestsRequired())                                                            \
                FAIL() << liveTool << " is not installed";                                         \
            GTEST_SKIP() << liveTool << " is not installed";                                       \
        }

/* Runs a tool to its end with extra environment entries; its standard output. */
std::string RunTool(const std::vector<std::string> &command,
                    const std::vector<std::pair<std::string, std::string>> &environment = {});

/* An X server of its own, 1024 by 768, on a display number that was free;
   options are the server's own (by default it takes no TCP connections). */
class VirtualDisplay
{
  public:
    explicit VirtualDisplay(const std::vector<std::string> &options = {"-nolisten", "tcp"});
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;
    ~VirtualDisplay();

    bool IsRunning() const { return !name_.empty(); }
    /* ":N", for DISPLAY. */
    const std::string &Name() const { return name_; }
    unsigned Number() const { return std::stoul(name_.substr(1)); }
    /* Ends the server at once, as when a display goes away. */
    void Kill();
    /* Sends the server a signal: SIGSTOP makes a display that stops
       answering, SIGCONT brings it back. */
    void Signal(int number);

  private:
    pid_t server_ = -1;
    int claim_ = -1;
    std::string name_;
};

#endif

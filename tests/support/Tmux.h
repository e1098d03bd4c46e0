#ifndef TESTS_SUPPORT_TMUX_H
#define TESTS_SUPPORT_TMUX_H

#include <functional>
#include <string>
#include <vector>

/* Text as one word for sh. */
std::string Quote(const std::string &text);

/* A tmux server of the test's own, in whose terminals programs run as a
   person runs them; the server ends with the object. Tests that derive
   from it begin with REQUIRE_LIVE_TOOLS("tmux"). */
class TmuxServer
{
  public:
    TmuxServer();
    TmuxServer(const TmuxServer &) = delete;
    TmuxServer &operator=(const TmuxServer &) = delete;
    ~TmuxServer();

    std::string Tmux(std::vector<std::string> args) const;
    /* Ends the server, and with it what runs in its terminals. */
    void KillServer() const;
    std::string Screen() const { return Tmux({"capture-pane", "-p"}); }

    /* Waits up to 30 s for the terminal to satisfy a condition, or to show
       text; the last screen seen. */
    std::string WaitForScreenWhere(const std::function<bool(const std::string &)> &condition,
                                   const std::string &what) const;
    std::string WaitForScreen(const std::string &text) const;

    /* Waits up to 60 s for the status that RecordStatus leaves in folder;
       -1 if it never comes. */
    int WaitForStatus(const std::string &folder) const;

  private:
    std::string socket_;
};

/* Shell words that run command under sh, then leave in folder the
   terminal's settings after it ("stty") and, last, its status ("rc"). */
std::string RecordStatus(const std::string &command, const std::string &folder);

#endif

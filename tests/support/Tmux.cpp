#include "Tmux.h"

#include <chrono>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "Files.h"
#include "LiveTools.h"

std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

TmuxServer::TmuxServer() : socket_("velorin-test-" + std::to_string(getpid())) {}

TmuxServer::~TmuxServer()
{
    KillServer();
}

void TmuxServer::KillServer() const
{
    if (!FindTool("tmux").empty())
        Tmux({"kill-server"});
}

std::string TmuxServer::Tmux(std::vector<std::string> args) const
{
    args.insert(args.begin(), {"tmux", "-L", socket_, "-f", "/dev/null"});
    return RunTool(args);
}

std::string
TmuxServer::WaitForScreenWhere(const std::function<bool(const std::string &)> &condition,
                               const std::string &what) const
{
    std::string screen;
    for (int i = 0; i < 300; i++) {
        screen = Screen();
        if (condition(screen))
            return screen;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "the terminal never showed " << what << ":\n" << screen;
    return screen;
}

std::string TmuxServer::WaitForScreen(const std::string &text) const
{
    return WaitForScreenWhere(
        [&](const std::string &screen) { return screen.find(text) != std::string::npos; },
        "\"" + text + "\"");
}

std::string RecordStatus(const std::string &command, const std::string &folder)
{
    return "sh -c " + Quote(command) + "; echo $? > " + Quote(folder + "/rc.tmp") + "; stty -a > " +
           Quote(folder + "/stty") + "; mv " + Quote(folder + "/rc.tmp") + " " +
           Quote(folder + "/rc");
}

int TmuxServer::WaitForStatus(const std::string &folder) const
{
    std::string rc = folder + "/rc";
    for (int i = 0; i < 600 && access(rc.c_str(), R_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (access(rc.c_str(), R_OK) != 0) {
        ADD_FAILURE() << "the program did not end:\n" << Screen();
        return -1;
    }
    return std::stoi(ReadFile(rc));
}

#include "LiveTools.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Program.h"

std::string FindTool(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

bool AreLiveTestsRequired()
{
    const char *required = std::getenv("VELORIN_REQUIRE_LIVE_TESTS");
    return required != nullptr && std::strcmp(required, "1") == 0;
}

std::string RunTool(const std::vector<std::string> &command,
                    const std::vector<std::pair<std::string, std::string>> &environment)
{
    RunOptions options;
    for (const auto &[name, value] : environment)
        options.environment[name] = value;
    std::string tool = FindTool(command.at(0));
    if (tool.empty())
        throw std::runtime_error(command[0] + " is not installed");
    return RunProgram(tool, std::vector<std::string>(command.begin() + 1, command.end()), options)
        .out;
}

namespace
{

/* Whether a server answers at the display's abstract socket: one left
   behind by a test run that was killed holds the number without a lock
   file. */
bool IsDisplayAnswering(const std::string &number)
{
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string path = "/tmp/.X11-unix/X" + number;
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    bool answering = connect(probe, reinterpret_cast<sockaddr *>(&address),
                             socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size())) == 0;
    close(probe);
    return answering;
}

} // namespace

VirtualDisplay::VirtualDisplay(const std::vector<std::string> &options)
{
    std::string server = FindTool("Xvfb");
    int channel[2];
    if (server.empty() || pipe(channel) != 0)
        return;
    /* A display number that no server holds (it has no lock file) and no
       other test has claimed. Left to pick one itself, Xvfb may take a
       number in use when it does not listen on the abstract socket. */
    for (int number = 20; number < 200 && claim_ < 0; number++) {
        std::string suffix = std::to_string(number);
        if (access(("/tmp/.X" + suffix + "-lock").c_str(), F_OK) == 0 || IsDisplayAnswering(suffix))
            continue;
        int claim = open(("/tmp/velorin-test-display-" + suffix + ".lock").c_str(),
                         O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (claim >= 0 && flock(claim, LOCK_EX | LOCK_NB) == 0) {
            claim_ = claim;
            name_ = ":" + suffix;
        } else if (claim >= 0) {
            close(claim);
        }
    }
    if (claim_ < 0)
        return;
    std::vector<std::string> arguments = {
        "Xvfb",    name_, "-displayfd",  std::to_string(channel[1]),
        "-screen", "0",   "1024x768x24", "-noreset"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    server_ = fork();
    if (server_ == 0) {
        close(channel[0]);
        execv(server.c_str(), argv.data());
        _exit(127);
    }
    close(channel[1]);
    /* The server writes its display number once it takes connections.
       -noreset: by default the server starts afresh whenever its last client
       leaves, and a connection made meanwhile is refused. */
    std::string number;
    struct pollfd wait = {channel[0], POLLIN, 0};
    char c;
    while (poll(&wait, 1, 20000) == 1 && read(channel[0], &c, 1) == 1 && c != '\n')
        number.push_back(c);
    close(channel[0]);
    if (":" + number != name_)
        name_.clear();
}

void VirtualDisplay::Kill()
{
    if (server_ > 0) {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
        server_ = -1;
    }
}

void VirtualDisplay::Signal(int number)
{
    if (server_ > 0)
        kill(server_, number);
}

VirtualDisplay::~VirtualDisplay()
{
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
    if (claim_ >= 0)
        close(claim_);
}

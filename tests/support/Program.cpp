#include "Program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Files.h"
#include "TempDir.h"

namespace
{

void RedirectTo(const char *path, int descriptor)
{
    int file = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0 || dup2(file, descriptor) < 0)
        _exit(126);
    close(file);
}

/* This process's environment with the given variables set, as strings
   that an exec can take. */
std::vector<std::string> MakeEnvironment(const std::map<std::string, std::string> &changes)
{
    std::vector<std::string> environment;
    for (char **variable = environ; *variable != nullptr; variable++) {
        std::string entry = *variable;
        if (changes.count(entry.substr(0, entry.find('='))) == 0)
            environment.push_back(entry);
    }
    for (const auto &[name, value] : changes)
        environment.push_back(name + "=" + value);
    return environment;
}

std::vector<char *> PointTo(std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    for (std::string &text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

/* True when every library line shows as many closes as opens and as many
   drops as takes, and every "... held N" line shows 0. */
bool IsBalanced(const std::string &report)
{
    std::istringstream lines(report);
    std::string line;
    int libraries = 0, holdings = 0;
    while (std::getline(lines, line)) {
        char name[64];
        unsigned opened, closed, taken, dropped;
        size_t held = line.find(" held ");
        if (std::sscanf(line.c_str(), "%63s opened %u closed %u interface taken %u dropped %u",
                        name, &opened, &closed, &taken, &dropped) == 5) {
            if (opened != closed || taken != dropped)
                return false;
            libraries++;
        } else if (held != std::string::npos) {
            if (line.substr(held + 6) != "0")
                return false;
            holdings++;
        }
    }
    return libraries == 6 && holdings == 8;
}

} // namespace

BackgroundProgram::BackgroundProgram(const std::string &binary,
                                     const std::vector<std::string> &args,
                                     const RunOptions &options)
    : closeStandardError_(options.closeStandardError || options.closeStandardDescriptors)
{
    std::string outPath = capture_ / "out", errPath = capture_ / "err";
    /* Everything the child needs is made here: between fork and exec it may
       only make system calls, since another thread of this process may hold
       the allocator's lock at the fork. */
    std::vector<std::string> environment = MakeEnvironment(options.environment);
    std::vector<std::string> arguments = {binary};
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<char *> envp = PointTo(environment), argv = PointTo(arguments);
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ != 0)
        return;
    /* What this test process ignores or blocks (SIGPIPE for a pipe's
       writer, say) must not soften what the program meets. */
    for (int number = 1; number < NSIG; number++)
        signal(number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int input = open("/dev/null", O_RDONLY);
    dup2(input, STDIN_FILENO);
    if (input > STDIN_FILENO)
        close(input);
    RedirectTo(outPath.c_str(), STDOUT_FILENO);
    if (options.closeStandardError || options.closeStandardDescriptors)
        close(STDERR_FILENO);
    else
        RedirectTo(errPath.c_str(), STDERR_FILENO);
    if (options.closeStandardDescriptors) {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
    }
    if (options.fileSizeLimit != 0) {
        rlimit limit = {options.fileSizeLimit, options.fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.groupId >= 0 && (setgroups(0, nullptr) != 0 || setgid(gid_t(options.groupId)) != 0))
        _exit(126);
    if (options.userId >= 0 && setuid(uid_t(options.userId)) != 0)
        _exit(126);
    execve(binary.c_str(), argv.data(), envp.data());
    _exit(127);
}

BackgroundProgram::~BackgroundProgram()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

RunResult BackgroundProgram::Finish(int timeoutSeconds)
{
    int status = 0;
    time_t deadline = time(nullptr) + timeoutSeconds;
    for (;;) {
        pid_t ended = waitpid(pid_, &status, timeoutSeconds > 0 ? WNOHANG : 0);
        if (ended == pid_)
            break;
        if (ended < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (timeoutSeconds > 0 && time(nullptr) >= deadline) {
            ADD_FAILURE() << "the program ran longer than " << timeoutSeconds << " s; killed";
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        if (ended == 0)
            usleep(10000);
    }
    pid_ = -1;
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = ReadFile(capture_ / "out");
    if (!closeStandardError_)
        result.err = ReadFile(capture_ / "err");
    return result;
}

RunResult RunProgram(const std::string &binary, const std::vector<std::string> &args,
                     const RunOptions &options)
{
    return BackgroundProgram(binary, args, options).Finish();
}

void AddVelorinControls(RunOptions &options, const std::string &reportPath)
{
    options.environment.emplace("VELORIN_HOST_CLOCK", "instant");
    options.environment.emplace("VELORIN_HOST_PRESENTATION", "headless");
    options.environment["VELORIN_HOST_BALANCE_REPORT"] = reportPath;
}

void ExpectBalanced(const std::string &balanceReport)
{
    EXPECT_TRUE(IsBalanced(balanceReport)) << "unbalanced library opens or locks at exit:\n"
                                           << balanceReport;
}

BackgroundVelorin::BackgroundVelorin(const std::vector<std::string> &args, RunOptions options)
{
    AddVelorinControls(options, reportDir_ / "balance");
    if (options.userId >= 0)
        chmod(reportDir_.Path().c_str(), 0777);
    program_ = std::make_unique<BackgroundProgram>(VELORIN_BINARY, args, options);
}

RunResult BackgroundVelorin::Finish(int timeoutSeconds)
{
    RunResult result = program_->Finish(timeoutSeconds);
    std::string reportPath = reportDir_ / "balance";
    if (access(reportPath.c_str(), R_OK) == 0)
        result.balanceReport = ReadFile(reportPath);
    ExpectBalanced(result.balanceReport);
    return result;
}

RunResult RunVelorin(const std::vector<std::string> &args, RunOptions options)
{
    return BackgroundVelorin(args, std::move(options)).Finish();
}

RunResult RunPack(const std::vector<std::string> &args)
{
    return RunProgram(VELORIN_PACK_BINARY, args);
}

#include "Program.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Files.h"
#include "TempDir.h"

namespace {

void RedirectTo(const std::string &path, int descriptor)
{
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0 || dup2(file, descriptor) < 0)
        _exit(126);
    close(file);
}

/* True when every library line shows as many closes as opens and as many
   drops as takes, and no lock is held. */
bool IsBalanced(const std::string &report)
{
    std::istringstream lines(report);
    std::string line;
    int libraries = 0;
    bool locksFree = false;
    while (std::getline(lines, line)) {
        char name[64];
        unsigned opened, closed, taken, dropped, locks;
        if (std::sscanf(line.c_str(), "%63s opened %u closed %u interface taken %u dropped %u",
                        name, &opened, &closed, &taken, &dropped) == 5) {
            if (opened != closed || taken != dropped)
                return false;
            libraries++;
        } else if (std::sscanf(line.c_str(), "locks held %u", &locks) == 1) {
            locksFree = locks == 0;
        }
    }
    return libraries == 6 && locksFree;
}

}  // namespace

RunResult RunProgram(const std::string &binary, const std::vector<std::string> &args,
                     const RunOptions &options)
{
    TempDir capture;
    std::string outPath = capture / "out", errPath = capture / "err";
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        for (const auto &[name, value] : options.environment)
            setenv(name.c_str(), value.c_str(), 1);
        int input = open("/dev/null", O_RDONLY);
        dup2(input, STDIN_FILENO);
        RedirectTo(outPath, STDOUT_FILENO);
        if (options.closeStandardError)
            close(STDERR_FILENO);
        else
            RedirectTo(errPath, STDERR_FILENO);
        if (options.fileSizeLimit != 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {options.fileSizeLimit, options.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(binary.c_str()));
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(outPath);
    if (!options.closeStandardError)
        result.err = ReadFile(errPath);
    return result;
}

RunResult RunVelorin(const std::vector<std::string> &args, RunOptions options)
{
    TempDir reportDir;
    std::string reportPath = reportDir / "balance";
    options.environment["VELORIN_HOST_CLOCK"] = "instant";
    options.environment["VELORIN_HOST_BALANCE_REPORT"] = reportPath;
    RunResult result = RunProgram(VELORIN_BINARY, args, options);
    if (access(reportPath.c_str(), R_OK) == 0)
        result.balanceReport = ReadFile(reportPath);
    EXPECT_TRUE(IsBalanced(result.balanceReport))
        << "unbalanced library opens or locks at exit:\n" << result.balanceReport;
    return result;
}

RunResult RunPack(const std::vector<std::string> &args)
{
    return RunProgram(VELORIN_PACK_BINARY, args);
}

#ifndef TESTS_SUPPORT_PROGRAM_H
#define TESTS_SUPPORT_PROGRAM_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "TempDir.h"

struct RunOptions {
    std::map<std::string, std::string> environment;
    /* RLIMIT_FSIZE for the child; 0 for none. */
    unsigned long long fileSizeLimit = 0;
    bool closeStandardError = false;
    /* Standard input, output and error all closed, as a careless caller
       may leave them. */
    bool closeStandardDescriptors = false;
    /* Run as this user and group instead (only possible for root); -1 for
       neither. */
    int userId = -1;
    int groupId = -1;
};

struct RunResult {
    int exitCode = -1; /* -1 when the program was killed by a signal */
    int signal = 0;    /* the signal that ended it */
    std::string out;
    std::string err;
    std::string balanceReport;
};

/* A program running in the background, its standard input /dev/null and its
   output captured, every signal as a freshly started program has it. Killed
   if it is still running when the object goes. */
class BackgroundProgram
{
  public:
    BackgroundProgram(const std::string &binary, const std::vector<std::string> &args,
                      const RunOptions &options = {});
    BackgroundProgram(const BackgroundProgram &) = delete;
    BackgroundProgram &operator=(const BackgroundProgram &) = delete;
    ~BackgroundProgram();

    pid_t Pid() const { return pid_; }
    /* Waits for the end; after timeoutSeconds (0: no limit) the program is
       killed and the test fails. */
    RunResult Finish(int timeoutSeconds = 0);

  private:
    TempDir capture_;
    pid_t pid_ = -1;
    bool closeStandardError_;
};

RunResult RunProgram(const std::string &binary, const std::vector<std::string> &args,
                     const RunOptions &options = {});

/* The host controls that every test run of velorin has: an instant clock
(unless the options set VELORIN_HOST_CLOCK),
   no presentation unless the options choose one ("" lets velorin choose as
   it would for a person), and a balance report written to reportPath. */
void AddVelorinControls(RunOptions &options, const std::string &reportPath);

/* Checks, as every run must show, that each library opened was closed, each
   interface taken was dropped and no lock, screen, window, gadget or message
   is left held. */
void ExpectBalanced(const std::string &balanceReport);

/* Velorin started in the background with those controls; Finish checks the
   balance report. */
class BackgroundVelorin
{
  public:
    explicit BackgroundVelorin(const std::vector<std::string> &args, RunOptions options = {});

    pid_t Pid() const { return program_->Pid(); }
    RunResult Finish(int timeoutSeconds = 0);

  private:
    TempDir reportDir_;
    std::unique_ptr<BackgroundProgram> program_;
};

RunResult RunVelorin(const std::vector<std::string> &args, RunOptions options = {});

/* Runs velorin-pack. */
RunResult RunPack(const std::vector<std::string> &args);

#endif

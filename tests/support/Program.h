#ifndef TESTS_SUPPORT_PROGRAM_H
#define TESTS_SUPPORT_PROGRAM_H

#include <map>
#include <string>
#include <vector>

struct RunOptions {
    std::map<std::string, std::string> environment;
    /* RLIMIT_FSIZE for the child, with SIGXFSZ ignored; 0 for none. */
    unsigned long long fileSizeLimit = 0;
    bool closeStandardError = false;
};

struct RunResult {
    int exitCode = -1; /* -1 when the program was killed by a signal */
    std::string out;
    std::string err;
    std::string balanceReport;
};

RunResult RunProgram(const std::string &binary, const std::vector<std::string> &args,
                     const RunOptions &options = {});

/* Runs velorin with an instant clock and checks, as every run must show,
   that each library opened was closed, each interface taken was dropped and
   no lock is left held. */
RunResult RunVelorin(const std::vector<std::string> &args, RunOptions options = {});

/* Runs velorin-pack. */
RunResult RunPack(const std::vector<std::string> &args);

#endif

#include <csignal>
#include <cstdio>
#include <string>

#include "../format/ArchiveReport.h"
#include "../format/ShownName.h"
#include "InstallerArchive.h"
#include "MakeInstaller.h"
#include "PackCommandLine.h"
#include "PackTree.h"
#include "ProgressLine.h"
#include "SignArchive.h"
#include "StandardDescriptors.h"

/* Exit codes: 0 done (packed, listed, or the archive unpacks into an empty
   destination), 1 the tree could not be packed, the archive has a fault or
   cannot be unpacked, or the output was lost, 2 a wrong command line, 3 the
   archive is sound but needs directories in the destination (-verify). */

namespace
{

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

const char program[] = "velorin-pack";

int PackSource(const PackCommand &command)
{
    const std::string &sourceDir = command.operands[0];
    const std::string &output = command.operands[1];
    /* A file size limit ends a program with SIGXFSZ; the write fails
       instead, and the partial output is removed as after a full disk. */
    std::signal(SIGXFSZ, SIG_IGN);
    PackSummary summary;
    std::string error;
    /* The key is read, and its password asked for, before any work. */
    SecretKey key;
    PackSettings settings = command.settings;
    if (!command.signingKey.empty()) {
        if (!LoadSigningKey(command.signingKey, command.passwordFile, key, error)) {
            std::fprintf(stderr, "velorin-pack: %s\n", error.c_str());
            return EXIT_FAILED;
        }
        settings.signingKey = &key;
    }
    ProgressLine progressLine(2);
    PackReporting reporting;
    /* A warning takes the progress line's place; the next update draws it
       again below. */
    reporting.warn = [&](const std::string &text) {
        progressLine.Clear();
        std::fprintf(stderr, "velorin-pack: warning: %s\n", text.c_str());
    };
    if (progressLine.Shown())
        reporting.progress = [&](const PackProgress &progress) { progressLine.Update(progress); };
    bool packed;
    if (command.installer) {
        InstallerPlan plan;
        plan.sourceDir = sourceDir;
        plan.output = output;
        plan.settings = settings;
        plan.command = command.installerCommand;
        plan.stub = command.stub;
        plan.licenseFile = command.licenseFile;
        packed = MakeInstaller(plan, reporting, summary, error);
    } else {
        packed = PackTree(sourceDir, output, settings, reporting, summary, error);
    }
    progressLine.Clear();
    if (!packed) {
        std::fprintf(stderr, "velorin-pack: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    std::string directories = Count(summary.directories, "directory", "directories");
    std::string files = Count(summary.files, "file", "files");
    std::string contents = summary.links == 0 ? directories + " and " + files
                                              : directories + ", " + files + " and " +
                                                    Count(summary.links, "link", "links");
    std::printf("Packed %s (%s) into %s\n", contents.c_str(),
                Count(summary.bytes, "byte", "bytes").c_str(), ShowName(output).c_str());
    /* An older Velorin refuses such an archive as of a wrong version. */
    if (summary.largeFiles)
        std::fprintf(stderr,
                     "velorin-pack: %s holds files of 4 GiB or more: it needs Velorin %s or "
                     "later to unpack\n",
                     ShowName(output).c_str(), VELORIN_VERSION);
    return EXIT_DONE;
}

} // namespace

int main(int argc, char **argv)
{
    if (!OpenStandardDescriptors())
        return EXIT_FAILED;
    PackCommand command;
    std::string error;
    if (!ReadPackCommandLine(argc, argv, command, error)) {
        std::fprintf(stderr, "velorin-pack: %s\n", ShowName(error).c_str());
        PrintPackUsage(stderr);
        return EXIT_USAGE;
    }
    if (command.help) {
        PrintPackUsage(stdout);
        return FinishOutput(program, EXIT_DONE);
    }
    if (command.version) {
        std::printf("velorin-pack %s\n", VELORIN_VERSION);
        return FinishOutput(program, EXIT_DONE);
    }
    /* An installer is listed and verified as the archive it carries. */
    if ((command.list || command.verify) && !HoldInstallerArchive(command.operands[0], error)) {
        std::fprintf(stderr, "velorin-pack: %s: %s\n", ShowName(command.operands[0]).c_str(),
                     error.c_str());
        return EXIT_FAILED;
    }
    if (command.list)
        return ListArchive(program, command.operands[0]);
    if (command.verify)
        return VerifyArchive(program, command.operands[0]);
    return PackSource(command);
}

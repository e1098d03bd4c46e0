#include "Installer.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <strings.h>
#include <unistd.h>

#include <proto/newlib.h>

#include "../../tools/ArchiveReport.h"
#include "../../tools/ShownName.h"
#include "../presentation/Presentation.h"
#include "../stream/HostStream.h"
#include "../system/RunEnding.h"

/* The program's entry, ahead of main. A plain velorin goes straight to
   main. An installer (its slot filled) builds main's arguments from its
   own command line, as the system's start-up builds them from the Shell's:
   -archive names the archive inside its own file, -dest the directory it
   unpacks into. When the run ends, by main's return or through the
   runtime's exit, velorin's return code becomes the installer's exit
   status, and after a whole unpack the installer's command runs. */

extern "C" int __real_main(int argc, char **argv);

namespace
{

/* velorin's return codes. */
const int velorinUnpacked = 1;
const int velorinAborted = 2;

struct InstallerOptions {
    std::string dest;
    bool destGiven = false;
    bool keep = false;
    bool accept = false;
    enum { Unpack, List, Verify, License, Help } mode = Unpack;
    std::vector<std::string> arguments;
};

/* What the ending needs of the run. */
struct InstallerRun {
    std::string shownName;
    std::string startedAs;
    std::string directory;
    bool temporary = false;
    bool keep = false;
    std::string command;
    std::vector<std::string> arguments;
};

InstallerRun run;

/* Written whole with one call, so that it can come from any thread. */
void Say(const std::string &text)
{
    std::string line = run.shownName + ": " + text + "\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

int PrintUsage()
{
    const char *name = run.shownName.c_str();
    std::fprintf(stderr,
                 "Usage: %s [-dest DIR] [-keep] [-accept] [-- ARG...]\n"
                 "       %s -list | -verify | -license | -help\n",
                 name, name);
    return INSTALLER_USAGE;
}

bool ReadOptions(int argc, char **argv, InstallerOptions &options)
{
    for (int i = 1; i < argc; i++) {
        const char *option = argv[i];
        if (std::strcmp(option, "--") == 0) {
            options.arguments.assign(argv + i + 1, argv + argc);
            return true;
        }
        if (strcasecmp(option, "-dest") == 0 && i + 1 < argc) {
            options.dest = argv[++i];
            options.destGiven = true;
        } else if (strcasecmp(option, "-keep") == 0) {
            options.keep = true;
        } else if (strcasecmp(option, "-list") == 0) {
            options.mode = InstallerOptions::List;
        } else if (strcasecmp(option, "-verify") == 0) {
            options.mode = InstallerOptions::Verify;
        } else if (strcasecmp(option, "-accept") == 0) {
            options.accept = true;
        } else if (strcasecmp(option, "-license") == 0) {
            options.mode = InstallerOptions::License;
        } else if (strcasecmp(option, "-help") == 0) {
            options.mode = InstallerOptions::Help;
        } else {
            return false;
        }
    }
    return true;
}

int PrintHelp(const InstallerSlot &slot, const InstallerTrailer &trailer)
{
    const char *name = run.shownName.c_str();
    std::printf("%s: a Velorin installer of %s, holding %s and %s (%s).\n", name,
                Count(slot.totalSize, "byte", "bytes").c_str(),
                Count(trailer.directories, "directory", "directories").c_str(),
                Count(trailer.files, "file", "files").c_str(),
                Count(trailer.bytes, "byte", "bytes").c_str());
    if (trailer.command.empty())
        std::printf("It runs no command.\n");
    else
        std::printf("After unpacking it runs: %s\n", ShowName(trailer.command).c_str());
    if (!trailer.license.empty())
        std::printf("It carries a licence, shown before anything is unpacked: nothing is\n"
                    "unpacked until it is accepted. -license prints it, -accept accepts it.\n");
    std::printf("\n"
                "Usage: %s [-dest DIR] [-keep] [-accept] [-- ARG...]\n"
                "       %s -list | -verify | -license | -help\n"
                "  -dest DIR  unpack into DIR, an existing directory, then run the command\n"
                "             there. Without -dest (only for an installer with a command):\n"
                "             into a new temporary directory, removed afterwards.\n"
                "  -keep      keep the temporary directory and say where it is.\n"
                "  -accept    accept the licence without having it shown (a script).\n"
                "  -- ARG...  arguments for the command ($1, $2, ...).\n"
                "  -list      list the files it holds; -verify: check them all.\n"
                "  -license   print the licence.\n"
                "Exit status: 0 done; the command's own status when it failed; 125 the\n"
                "unpacking failed and nothing was run; 130 aborted, nothing was run;\n"
                "122 the licence was declined or, in a script, not accepted with -accept;\n"
                "2 a bad command line. -list and -verify: 1 a fault; 3 (-verify) sound,\n"
                "but -dest DIR must already hold the directories it names.\n",
                name, name);
    return FinishOutput(run.shownName, INSTALLER_DONE);
}

int PrintLicense(const InstallerTrailer &trailer)
{
    if (trailer.license.empty()) {
        Say("this installer carries no licence");
        return INSTALLER_DONE;
    }
    std::fwrite(trailer.license.data(), 1, trailer.license.size(), stdout);
    if (trailer.license.back() != '\n')
        std::fputc('\n', stdout);
    return FinishOutput(run.shownName, INSTALLER_DONE);
}

/* Nothing unpacked or run until the licence is accepted: by -accept, or
   by the person where the installer shows it. INSTALLER_DONE to go on. */
int AcceptLicense(const std::string &license, bool acceptedBefore)
{
    if (license.empty() || acceptedBefore)
        return INSTALLER_DONE;
    switch (AskLicense(license)) {
    case LicenseAnswer::ACCEPTED:
        return INSTALLER_DONE;
    case LicenseAnswer::DECLINED:
        Say("the licence was declined; nothing was unpacked or run");
        return INSTALLER_DECLINED;
    case LicenseAnswer::ABORTED:
        Say("the installation was aborted; nothing was unpacked or run");
        return INSTALLER_ABORTED;
    case LicenseAnswer::UNASKED:
        break;
    }
    Say("this installer carries a licence, which must be accepted before anything is "
        "unpacked: -license prints it, -accept accepts it; nothing was unpacked or run");
    return INSTALLER_DECLINED;
}

/* A failure said on standard error is said in a window too where nobody
   would see standard error. */
void ShowFailure(const std::string &text)
{
    if (IsFailureUnseen())
        ShowFailureWindow(text);
}

std::string Capitalized(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = char(text[0] - 'a' + 'A');
    return text;
}

/* The end of the run: velorin's return code in, the exit status out. */
int EndInstallerRun(int code, bool atOnce)
{
    if (!atOnce)
        std::fflush(nullptr);
    int status;
    std::string notRun = run.command.empty() ? "" : "; the command was not run";
    std::string failure;
    if (code == velorinUnpacked) {
        status = INSTALLER_DONE;
        if (!run.command.empty()) {
            EndPresentation();
            std::vector<std::string> arguments = {run.startedAs};
            arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
            std::string error;
            status = RunCommand(run.command, run.directory, arguments, error);
            if (!error.empty())
                Say(error);
            if (status != INSTALLER_DONE)
                failure = "Everything was unpacked, but the installation's command (" +
                          ShowName(run.command) + ") failed with exit status " +
                          std::to_string(status) + "." +
                          (error.empty() ? "" : "\n\n" + Capitalized(error) + ".");
        }
    } else if (code == velorinAborted) {
        Say("the installation was aborted" + notRun);
        status = INSTALLER_ABORTED;
    } else {
        Say("the unpacking failed" + notRun);
        status = INSTALLER_FAILED;
        failure = std::string("The files could not be unpacked") +
                  (run.command.empty() ? "." : ", so the installation's command was not run.");
        if (!GetLastErrorLine().empty())
            failure += "\n\n" + GetLastErrorLine();
    }
    if (run.temporary) {
        std::string error;
        if (run.keep)
            Say("the files are kept in " + run.directory);
        else if (atOnce)
            Say("the files are left in " + run.directory);
        else if (!RemoveTemporaryDirectory(error))
            Say("cannot remove all of " + run.directory + ": " + error);
    }
    if (!atOnce && !failure.empty())
        ShowFailure(failure);
    return status;
}

int RunInstaller(int argc, char **argv, const uint8_t slotBytes[], const InstallerSlot &slot)
{
    run.startedAs = argc > 0 && argv[0] != nullptr ? argv[0] : "installer";
    run.shownName = ShowName(run.startedAs.substr(run.startedAs.rfind('/') + 1));
    InstallerOptions options;
    if (!ReadOptions(argc, argv, options))
        return PrintUsage();

    int descriptor;
    InstallerTrailer trailer;
    std::string error;
    if (!OpenOwnFile(run.startedAs.c_str(), slotBytes, slot, descriptor, trailer, error)) {
        Say(error + "; nothing was unpacked");
        ShowFailure(Capitalized(error) + ".\n\nNothing was unpacked.");
        return INSTALLER_FAILED;
    }
    /* The archive is named by the name the installer was started by, which
       velorin's messages show; a name too long for velorin is not needed. */
    std::string archiveName = run.startedAs.size() < 512 ? run.startedAs : run.shownName;
    HoldArchiveRegion(archiveName.c_str(), {descriptor, slot.archiveStart, slot.archiveLength});
    switch (options.mode) {
    case InstallerOptions::Help:
        return PrintHelp(slot, trailer);
    /* Their statuses are velorin-pack's, which fit the installer's own: 0
       done, 1 a fault (or the report lost), 3 needs directories in DIR. */
    case InstallerOptions::List:
        return ListArchive(run.shownName, archiveName);
    case InstallerOptions::Verify:
        return VerifyArchive(run.shownName, archiveName);
    case InstallerOptions::License:
        return PrintLicense(trailer);
    case InstallerOptions::Unpack:
        break;
    }
    if (int refused = AcceptLicense(trailer.license, options.accept); refused != INSTALLER_DONE)
        return refused;

    run.command = trailer.command;
    run.arguments = options.arguments;
    run.keep = options.keep;
    if (options.destGiven) {
        run.directory = options.dest;
    } else if (run.command.empty()) {
        Say("missing -dest DIR: where to unpack");
        return PrintUsage();
    } else if (!MakeTemporaryDirectory(run.directory, error)) {
        Say(error + " (TMPDIR chooses where); nothing was unpacked");
        ShowFailure(Capitalized(error) + " (TMPDIR chooses where).\n\nNothing was unpacked.");
        return INSTALLER_FAILED;
    } else {
        run.temporary = true;
    }

    std::vector<char *> velorinArguments = {argv[0],
                                            const_cast<char *>("-archive"),
                                            archiveName.data(),
                                            const_cast<char *>("-dest"),
                                            run.directory.data(),
                                            nullptr};
    SetRunEnding(EndInstallerRun);
    INewlib->exit(__real_main(int(velorinArguments.size()) - 1, velorinArguments.data()));
}

} // namespace

extern "C" int __wrap_main(int argc, char **argv)
{
    uint8_t slotBytes[INSTALLER_SLOT_SIZE];
    InstallerSlot slot;
    if (!ReadOwnSlot(slotBytes, slot))
        return __real_main(argc, argv);
    return RunInstaller(argc, argv, slotBytes, slot);
}

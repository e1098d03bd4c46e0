#include "Installer.h"
#include "InstallerOptions.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include <unistd.h>

#include <proto/newlib.h>
#include <signature/installer.h>

#include "../format/ArchiveReport.h"
#include "../format/ShownName.h"
#include "../platform/presentation/Presentation.h"
#include "../platform/stream/HostStream.h"
#include "../platform/system/HeldDestination.h"
#include "../platform/system/KeptLock.h"
#include "../platform/system/RunEnding.h"

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

/* What the ending needs of the run. */
struct InstallerRun {
    std::string shownName;
    std::string startedAs;
    std::string directory;
    bool temporary = false;
    bool keep = false;
    bool noexec = false;
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
    PrintInstallerUsage(stderr, run.shownName.c_str());
    return INSTALLER_USAGE;
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
    Signature signature;
    if (trailer.signature.empty())
        std::printf("It is not signed.\n");
    else if (!DecodeSignature(trailer.signature, signature))
        std::printf("Its signature is damaged.\n");
    else
        std::printf("It is signed with the minisign key %s.\n", ShowKeyId(signature.keyId).c_str());
    if (!trailer.license.empty())
        std::printf("It carries a licence, shown before anything is unpacked: nothing is\n"
                    "unpacked until it is accepted. -license prints it, -accept accepts it.\n");
    std::printf("\n");
    PrintInstallerUsage(stdout, name);
    PrintInstallerOptions(stdout);
    std::printf("Exit status: 0 done; the command's own status when it failed; 125 the\n"
                "unpacking failed (or too little space) and nothing was run; 130 aborted,\n"
                "nothing was run; 122 the licence was declined or, in a script, not\n"
                "accepted with -accept; 2 a bad command line. -list and -verify: 1 a fault;\n"
                "3 (-verify) sound, but -dest DIR must already hold the directories it names.\n"
                "The command gets VELORIN_INSTALLER (this file) and VELORIN_START_DIR (the\n"
                "directory it was started from) in its environment.\n");
    return FinishOutput(run.shownName, INSTALLER_DONE);
}

bool CheckOwnSignature(int descriptor, const uint8_t slotBytes[], const InstallerSlot &slot,
                       const InstallerTrailer &trailer, const std::string &given)
{
    PublicKey key;
    std::string error;
    if (!StartSignatures()) {
        Say("cannot check signatures: no random source; nothing was unpacked");
        return false;
    }
    if (!ReadPublicKey(given, key, error)) {
        Say("cannot read the key " + ShowName(given) + ": " + error + "; nothing was unpacked");
        return false;
    }
    if (!CheckInstallerSignature(descriptor, slotBytes, slot, trailer, key, error)) {
        Say(error + "; nothing was unpacked");
        return false;
    }
    return true;
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
        if (run.noexec) {
            Say("unpacked into " + run.directory +
                (run.command.empty() ? "" : "; the command was not run (-noexec)"));
        } else if (!run.command.empty()) {
            EndPresentation();
            std::vector<std::string> arguments = {run.startedAs};
            arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
            std::string error;
            std::string command =
                run.arguments.empty() ? run.command : CommandTakingArguments(run.command);
            status = RunCommand(command, GetKeptLock(), run.directory, arguments, error);
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
        ReadShortfall shortfall = GetLastReadShortfall();
        std::string why = shortfall == ReadShortfall::Damaged     ? ": the archive is damaged"
                          : shortfall == ReadShortfall::EndsEarly ? ": the archive is incomplete"
                                                                  : "";
        Say("the unpacking failed" + why + notRun);
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

/* Where the unpacking goes: -dest, -target (created here) or a new
   temporary directory. INSTALLER_DONE, or the status to end with. */
int ChooseDirectory(const InstallerOptions &options)
{
    std::string error;
    if (!options.dest.empty()) {
        run.directory = options.dest;
        return INSTALLER_DONE;
    }
    if (!options.target.empty()) {
        int held = MakeTargetDirectory(options.target, error);
        if (held < 0) {
            Say(error + "; nothing was unpacked");
            ShowFailure(Capitalized(error) + ".\n\nNothing was unpacked.");
            return INSTALLER_FAILED;
        }
        run.directory = options.target;
        HoldDestination(run.directory.c_str(), held);
        return INSTALLER_DONE;
    }
    if (run.command.empty() || (options.noexec && !options.keep)) {
        Say(run.command.empty() ? "missing -dest DIR or -target DIR: where to unpack"
                                : "-noexec needs -dest DIR, -target DIR or -keep");
        return PrintUsage();
    }
    CatchEndingSignals(run.shownName);
    sigset_t held;
    HoldEndingSignals(held);
    bool made = MakeTemporaryDirectory(run.directory, error);
    if (made)
        NoteTemporaryDirectory(run.directory, run.keep);
    RestoreSignals(held);
    if (!made) {
        Say(error + " (TMPDIR chooses where); nothing was unpacked");
        ShowFailure(Capitalized(error) + " (TMPDIR chooses where).\n\nNothing was unpacked.");
        return INSTALLER_FAILED;
    }
    run.temporary = true;
    /* Found before anything is unpacked: unpacked there, the command
       could not be started. */
    if (!options.noexec && IsOnNoexecMount(run.directory)) {
        run.temporary = false;
        RemoveTemporaryDirectory(error);
        std::string where = run.directory.substr(0, run.directory.rfind('/'));
        Say(where + " is on a file system mounted noexec, where the command cannot run: give "
                    "-dest DIR or -target DIR, or set TMPDIR to another directory; nothing was "
                    "unpacked");
        ShowFailure(Capitalized(where) +
                    " is on a file system mounted noexec, where the installation's command "
                    "cannot run.\n\nNothing was unpacked.");
        return INSTALLER_FAILED;
    }
    return INSTALLER_DONE;
}

/* What the command learns of where it comes from. */
void SetCommandContext(const std::string &startDirectory, int descriptor)
{
    std::string installer = FindInstallerPath(run.startedAs.c_str(), descriptor);
    if (installer.empty())
        unsetenv("VELORIN_INSTALLER");
    else
        setenv("VELORIN_INSTALLER", installer.c_str(), 1);
    if (startDirectory.empty())
        unsetenv("VELORIN_START_DIR");
    else
        setenv("VELORIN_START_DIR", startDirectory.c_str(), 1);
}

/* The name the installer was started by, and the name its messages show. */
std::pair<std::string, std::string> StartedAs(int argc, char **argv)
{
    std::string startedAs = argc > 0 && argv[0] != nullptr ? argv[0] : "installer";
    return {startedAs, ShowName(startedAs.substr(startedAs.rfind('/') + 1))};
}

int RunInstaller(int argc, char **argv, const uint8_t slotBytes[], const InstallerSlot &slot,
                 const OwnImage &image)
{
    std::tie(run.startedAs, run.shownName) = StartedAs(argc, argv);
    char *startDirectory = getcwd(nullptr, 0);
    std::string startedIn = startDirectory != nullptr ? startDirectory : "";
    std::free(startDirectory);
    InstallerOptions options;
    std::string error;
    if (!ReadInstallerOptions(argc, argv, options, error)) {
        Say(ShowName(error));
        return PrintUsage();
    }
    if (options.mode == InstallerOptions::Version) {
        std::printf("velorin %s\n", VELORIN_VERSION);
        return FinishOutput(run.shownName, INSTALLER_DONE);
    }

    int descriptor;
    InstallerTrailer trailer;
    if (!OpenOwnFile(slotBytes, slot, image, descriptor, trailer, error)) {
        Say(error + "; nothing was unpacked");
        ShowFailure(Capitalized(error) + ".\n\nNothing was unpacked.");
        return INSTALLER_FAILED;
    }
    /* The archive is named by the name the installer was started by, which
       velorin's messages show; a name too long for velorin is not needed. */
    std::string archiveName = run.startedAs.size() < 512 ? run.startedAs : run.shownName;
    HoldArchiveRegion(archiveName.c_str(), {descriptor, slot.archiveStart, slot.archiveLength});
    /* Checked after the region is held: the passes refuse a file changed
       since then, so they read the bytes that were checked. */
    if (options.keyGiven && options.mode != InstallerOptions::Help &&
        !CheckOwnSignature(descriptor, slotBytes, slot, trailer, options.key))
        return INSTALLER_FAILED;
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
    case InstallerOptions::Version:
        break;
    }
    if (int refused = AcceptLicense(trailer.license, options.accept); refused != INSTALLER_DONE)
        return refused;

    run.command = trailer.command;
    run.arguments = options.arguments;
    run.keep = options.keep;
    run.noexec = options.noexec;
    if (int status = ChooseDirectory(options); status != INSTALLER_DONE)
        return status;
    KeepLockOf(run.directory.c_str());
    SetCommandContext(startedIn, descriptor);

    std::vector<char *> velorinArguments = {argv[0], const_cast<char *>("-archive"),
                                            archiveName.data(), const_cast<char *>("-dest"),
                                            run.directory.data()};
    if (options.nospacecheck)
        velorinArguments.push_back(const_cast<char *>("-nospacecheck"));
    velorinArguments.push_back(nullptr);
    SetRunEnding(EndInstallerRun);
    INewlib->exit(__real_main(int(velorinArguments.size()) - 1, velorinArguments.data()));
}

} // namespace

extern "C" int __wrap_main(int argc, char **argv)
{
    uint8_t slotBytes[INSTALLER_SLOT_SIZE];
    InstallerSlot slot;
    /* main's return passes through the runtime's exit, as every other end
       of the run does, so that the presentation hears how it ended. */
    OwnImage image;
    int state = ReadOwnSlot(slotBytes, slot, image);
    if (state == OWN_SLOT_PLAIN)
        INewlib->exit(__real_main(argc, argv));
    if (state == OWN_SLOT_DAMAGED)
        return RefuseDamagedProgram(StartedAs(argc, argv).second, image);
    return RunInstaller(argc, argv, slotBytes, slot, image);
}

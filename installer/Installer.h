#ifndef PLATFORM_INSTALLER_INSTALLER_H
#define PLATFORM_INSTALLER_INSTALLER_H

#include "../format/InstallerLayout.h"

#include <string>
#include <vector>

#include <csignal>

#include <sys/types.h>

/* An installer's exit statuses, as a shell's commands have them; a
   command that ran gives its own. -list and -verify give velorin-pack's
   (ArchiveReport.h): 1 a fault, 3 directories needed in the destination. */
constexpr int INSTALLER_DONE = 0;
constexpr int INSTALLER_USAGE = 2;
constexpr int INSTALLER_FAILED = 125; /* nothing was run */
constexpr int INSTALLER_CANNOT_RUN = 126;
constexpr int INSTALLER_NO_SHELL = 127;
constexpr int INSTALLER_ABORTED = 130; /* the person aborted; nothing was run */
/* The licence was declined, or nobody was there to accept it; nothing was
   unpacked or run. */
constexpr int INSTALLER_DECLINED = 122;

/* The running program as the system loaded it from its file. */
struct OwnImage {
    bool known = false;
    /* Where the slot lies in the file. */
    uint64_t slotOffset = 0;
    /* The end of the last byte loaded: a file that ends sooner is cut. */
    uint64_t loadedEnd = 0;
    /* The loaded parts that the program never writes, with their bytes in
       memory, which are the file's. */
    struct Part {
        uint64_t offset;
        uint64_t length;
        const uint8_t *memory;
    };
    std::vector<Part> unchanged;
};

/* What a program finds in its own slot. */
enum OwnSlotState { OWN_SLOT_PLAIN, OWN_SLOT_FILLED, OWN_SLOT_DAMAGED };

/* Reads this program's own slot: OWN_SLOT_FILLED for an installer,
   OWN_SLOT_DAMAGED when the slot is not intact (the file was cut before its
   end, or a byte changed), which no sound velorin has. bytes receive the
   slot as it is; image describes the running program. */
int ReadOwnSlot(uint8_t bytes[INSTALLER_SLOT_SIZE], InstallerSlot &slot, OwnImage &image);
/* image for the program whose slot lies at slot; false when its program
   headers cannot be found. */
bool DescribeOwnImage(const volatile void *slot, OwnImage &image);
/* The path that the system executed, as the caller gave it (relative to
   the directory the program started in); null when unknown. */
const char *GetExecutedPath();

/* Says why a program whose slot is not intact does nothing, and gives the
   status for it. */
int RefuseDamagedProgram(const std::string &shownName, const OwnImage &image);

/* Opens the file that this program was started from and checks it against
   its slot: the size it must have, the same slot at the same place, a
   sound trailer, a program part that matches the trailer's checksum.
   Tries /proc/self/exe, then the path the system executed, which must be
   executable and hold this very program. */
bool OpenOwnFile(const uint8_t slotBytes[INSTALLER_SLOT_SIZE], const InstallerSlot &slot,
                 const OwnImage &image, int &descriptor, InstallerTrailer &trailer,
                 std::string &error);

/* A new private directory below $TMPDIR (or /tmp when it is unset or
   empty). */
bool MakeTemporaryDirectory(std::string &path, std::string &error);
/* Removes that directory and everything in it, never following a link
   nor leaving its file system; directories whose owner may not read or
   write them are given those permissions first. */
bool RemoveTemporaryDirectory(std::string &error);
/* The same, safe in a signal handler: whether it is gone. */
bool RemoveTemporaryDirectoryAtOnce();

/* From here on SIGTERM, SIGHUP and SIGINT (those not ignored at the start)
   end the installer at once: the command, when it runs, is given the
   signal and waited for, the temporary directory noted here is removed
   (or said to be kept), and the installer ends by the same signal. Lines
   begin with shownName. */
void CatchEndingSignals(const std::string &shownName);
void NoteTemporaryDirectory(const std::string &path, bool keep);
/* Those signals held back on this thread until RestoreSignals(previous). */
void HoldEndingSignals(sigset_t &previous);
void RestoreSignals(const sigset_t &previous);
/* The command's process while it runs; 0 when none runs. */
void NoteCommandProcess(pid_t child);
/* In the child between fork and exec: the signals caught here back to
   their default. */
void ReleaseEndingSignals();

/* Creates path as a directory of mode 0755 under the umask, with its
   missing parents, below the deepest directory of it that exists, never
   through a symbolic link in what it creates. The directory held (an
   O_PATH descriptor), or -1 with error set. */
int MakeTargetDirectory(const std::string &path, std::string &error);

/* Whether the directory lies on a file system mounted noexec, where no
   program in it can be started. */
bool IsOnNoexecMount(const std::string &path);

/* The command as /bin/sh runs it with the installer's arguments: a plain
   command (words and $NAME variables, nothing else) gets them after its
   own words; any other command uses "$@" itself, or not. */
std::string CommandTakingArguments(const std::string &command);

/* The installer's own file, absolute, as found from descriptor: empty when
   no name leads to it. */
std::string FindInstallerPath(const char *startedAs, int descriptor);

/* Runs command through /bin/sh -c in the directory open at directory
   (shown as directoryName) with arguments as $0, $1, ...; the command's
   exit status (128 + N when signal N ended it), or INSTALLER_CANNOT_RUN or
   INSTALLER_NO_SHELL with error set. */
int RunCommand(const std::string &command, int directory, const std::string &directoryName,
               const std::vector<std::string> &arguments, std::string &error);

enum class LicenseAnswer { ACCEPTED, DECLINED, ABORTED, UNASKED };

/* Shows the licence where the person is and brings back the answer: in a
   window on a desktop, in a pager in a terminal; UNASKED where there is
   nobody to ask (a script), ABORTED for Ctrl-C in the pager. */
LicenseAnswer AskLicense(const std::string &text);
/* The licence in a window of its own with Accept and Decline; true when
   it was accepted. */
bool AskLicenseInWindow(const std::string &text);

/* Text in lines of at most columns of the windows' font. */
std::vector<std::string> WrapForWindow(const std::string &text, size_t columns);

/* Whether a failure is seen only if a window says so: the installer runs
   on a desktop with neither standard input nor standard error a terminal
   and no controlling terminal, as when it was double-clicked. */
bool IsFailureUnseen();
/* A window that says why the installation failed, until it is closed. */
void ShowFailureWindow(const std::string &text);

#endif

#ifndef PLATFORM_INSTALLER_INSTALLER_H
#define PLATFORM_INSTALLER_INSTALLER_H

#include <installer/layout.h>

#include <string>
#include <vector>

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

/* Reads this program's own slot: true when it is filled (an installer).
   bytes receive the slot as it is. */
bool ReadOwnSlot(uint8_t bytes[INSTALLER_SLOT_SIZE], InstallerSlot &slot);

/* Opens the file that this program was started from and checks it against
   its slot: the size it must have, the same slot at the same place, a
   sound trailer. Tries /proc/self/exe, then the name it was started by
   (looked up in PATH when it holds no '/'). */
bool OpenOwnFile(const char *startedAs, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                 const InstallerSlot &slot, int &descriptor, InstallerTrailer &trailer,
                 std::string &error);

/* A new private directory below $TMPDIR (or /tmp when it is unset or
   empty). */
bool MakeTemporaryDirectory(std::string &path, std::string &error);
/* Removes that directory and everything in it, never following a link
   nor leaving its file system. */
bool RemoveTemporaryDirectory(std::string &error);

/* Runs command through /bin/sh -c in directory with arguments as $0, $1,
   ...; the command's exit status (128 + N when signal N ended it), or
   INSTALLER_CANNOT_RUN or INSTALLER_NO_SHELL with error set. */
int RunCommand(const std::string &command, const std::string &directory,
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

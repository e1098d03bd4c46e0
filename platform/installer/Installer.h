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

/* Runs command through /bin/sh -c in directory with arguments as $0, $1,
   ...; the command's exit status (128 + N when signal N ended it), or
   INSTALLER_CANNOT_RUN or INSTALLER_NO_SHELL with error set. */
int RunCommand(const std::string &command, const std::string &directory,
               const std::vector<std::string> &arguments, std::string &error);

#endif

#ifndef PLATFORM_HOST_LIBRARIES_H
#define PLATFORM_HOST_LIBRARIES_H

#include <cstdio>
#include <string>

#include <sys/types.h>

#include <proto/dos.h>
#include <proto/exec.h>
#include <proto/gadtools.h>
#include <proto/graphics.h>
#include <proto/intuition.h>
#include <proto/newlib.h>
#include <proto/utility.h>

/* One library of the host's registry, with the counts the balance report needs. */
struct HostLibrary {
    struct Library library;
    struct Interface *mainInterface;
    bool present;
    bool hasInterface;
    unsigned opens;
    unsigned closes;
    unsigned interfacesTaken;
    unsigned interfacesDropped;
};

/* The "main" interface of each library, defined by the library's own file. */
extern struct ExecIFace hostExecInterface;
extern struct UtilityIFace hostUtilityInterface;
extern struct NewlibIFace hostNewlibInterface;
extern struct DOSIFace hostDosInterface;
extern struct IntuitionIFace hostIntuitionInterface;
extern struct GadToolsIFace hostGadToolsInterface;
extern struct GraphicsIFace hostGraphicsInterface;

/* Whether the process was started with a standard error stream; without
   one, the start-up holds its place with /dev/null. */
bool StartedWithErrorStream();

/* Sets up the registry from the host controls; the start-up calls it first. */
void PrepareHostLibraries();

/* Writes the open and close counts of every library, and how many locks,
   screen locks, windows, gadgets and messages are still held. */
void WriteBalanceReport(std::FILE *report);

/* The held lock on a directory whose name starts the path name, with the
   rest of the name below it (never empty, no '/' at either end); false when
   the name lies below no held lock. The longest such name counts. */
bool FindLockAbove(CONST_STRPTR name, int &directory, std::string &below);

/* The descriptor of the file that fopen created below a held lock under
   this name and that is still open; -1 when there is none. *mode, when
   given, is then set to point at the mode the file has: it was created
   with 0666 under the umask, and whoever changes it through the
   descriptor keeps the mode there, so that it need not be asked. */
int FindCreatedFile(CONST_STRPTR name, mode_t **mode = nullptr);

/* The number of DOS locks handed out and not yet released. */
unsigned CountHeldLocks();

#endif

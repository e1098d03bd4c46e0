#include "../host/HostControls.h"
#include "HostLibraries.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

/* The program's start-up: before main it takes the Exec interface and opens
   the utility, runtime and DOS libraries; after main (or exit) it closes them
   again. Its constructor runs before the library auto-open step and its
   destructor after that step's destructors. */

struct ExecIFace *IExec;
struct Library *UtilityBase;
struct Library *NewlibBase;
struct Library *DOSBase;
struct UtilityIFace *IUtility;
struct NewlibIFace *INewlib;
struct DOSIFace *IDOS;

namespace
{

/* Alert numbers: the open-library group with the library's object code. */
const ULONG alertUtilityLibrary = 0x3800C;
const ULONG alertNewlibLibrary = 0x3800E;
const ULONG alertDosLibrary = 0x38007;
const int alertReturnCode = 20;

template <typename IFace>
bool OpenStartupLibrary(CONST_STRPTR name, ULONG version, struct Library *&base, IFace *&iface)
{
    base = IExec->OpenLibrary(name, version);
    if (base == nullptr)
        return false;
    iface = static_cast<IFace *>(IExec->GetInterface(base, "main", 1, nullptr));
    return iface != nullptr;
}

template <typename IFace> void CloseStartupLibrary(struct Library *&base, IFace *&iface)
{
    IExec->DropInterface(iface);
    iface = nullptr;
    IExec->CloseLibrary(base);
    base = nullptr;
}

/* Where there is no alert facility, an alert is one line on standard error. */
[[noreturn]] void RaiseAlert(ULONG number, CONST_STRPTR name, ULONG version)
{
    std::fprintf(stderr, "System alert 0x%lX: cannot open %s version %lu\n",
                 static_cast<unsigned long>(number), name, static_cast<unsigned long>(version));
    std::exit(alertReturnCode);
}

/* A standard descriptor that the caller closed would be the next file
   opened (an unpacked file, the archive), and text meant for the person
   would land in it: each is held by /dev/null instead, or, where there is
   none, by a descriptor that takes no text at all. */
bool errorStreamGiven = true;

void HoldStandardDescriptors()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; descriptor++) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (descriptor == STDERR_FILENO)
            errorStreamGiven = false;
        int held = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (held < 0)
            held = open("/", O_PATH);
        if (held >= 0 && held != descriptor) {
            dup2(held, descriptor);
            close(held);
        }
    }
}

__attribute__((constructor(101))) void StartProgram()
{
    HoldStandardDescriptors();
    /* A file size limit makes a write fail, reported as a write error,
       rather than end the process; a reader of standard output or error
       that has gone makes a write fail rather than end the run. */
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    ReadHostControls();
    PrepareHostLibraries();
    IExec = &hostExecInterface;
    if (!OpenStartupLibrary("utility.library", 50, UtilityBase, IUtility))
        RaiseAlert(alertUtilityLibrary, "utility.library", 50);
    if (!OpenStartupLibrary("newlib.library", 52, NewlibBase, INewlib))
        RaiseAlert(alertNewlibLibrary, "newlib.library", 52);
    if (!OpenStartupLibrary("dos.library", 50, DOSBase, IDOS))
        RaiseAlert(alertDosLibrary, "dos.library", 50);
}

__attribute__((destructor(101))) void EndProgram()
{
    std::fflush(nullptr);
    CloseStartupLibrary(DOSBase, IDOS);
    CloseStartupLibrary(NewlibBase, INewlib);
    CloseStartupLibrary(UtilityBase, IUtility);
    const char *reportPath = GetHostControls().balanceReport;
    if (reportPath == nullptr)
        return;
    std::FILE *report = std::fopen(reportPath, "w");
    if (report == nullptr)
        return;
    WriteBalanceReport(report);
    std::fclose(report);
}

} // namespace

bool StartedWithErrorStream()
{
    return errorStreamGiven;
}

#include "Installer.h"

#include <fcntl.h>
#include <unistd.h>

#include "../platform/presentation/Presentation.h"
#include "../platform/system/HostLibraries.h"

/* Wide enough for a path and its reason on few lines, narrow enough for
   the smallest screen. */
static const size_t failureColumns = 64;

/* A script run from a terminal keeps it as its controlling terminal even
   with its streams redirected; a program that a file manager starts has
   none. */
static bool HasControllingTerminal()
{
    int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0)
        return false;
    close(terminal);
    return true;
}

bool IsFailureUnseen()
{
    return !isatty(STDIN_FILENO) && !isatty(STDERR_FILENO) && !HasControllingTerminal() &&
           GetPresentation().IsOnDesktop();
}

void ShowFailureWindow(const std::string &text)
{
    std::string body;
    for (const std::string &line : WrapForWindow(text, failureColumns))
        body += (body.empty() ? "" : "\n") + line;
    struct EasyStruct easy = {sizeof easy, 0,      "Installation failed", body.c_str(), "Close",
                              nullptr,     nullptr};
    hostIntuitionInterface.EasyRequestArgs(nullptr, &easy, nullptr, nullptr);
}

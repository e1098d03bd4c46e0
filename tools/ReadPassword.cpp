#include "ReadPassword.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "../format/ShownName.h"

namespace
{

/* What the handler restores: set before it is installed. */
volatile int terminal = -1;
struct termios saved;
const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RestoreAndEnd(int signalNumber)
{
    if (terminal >= 0) {
        tcsetattr(terminal, TCSAFLUSH, &saved);
        ssize_t ignored = write(terminal, "\n", 1);
        (void)ignored;
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

/* Reads one line from descriptor; false at an error, or at the end before
   any line end when wholeLine is asked for. */
bool ReadLine(int descriptor, std::string &line, bool wholeLine)
{
    line.clear();
    for (;;) {
        char byte;
        ssize_t got = read(descriptor, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return !wholeLine || !line.empty();
        if (byte == '\n')
            break;
        line += byte;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool ReadFromTerminal(const std::string &prompt, std::string &password, std::string &error)
{
    int descriptor = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios quiet;
    if (descriptor < 0 || tcgetattr(descriptor, &saved) != 0) {
        if (descriptor >= 0)
            close(descriptor);
        error = "the secret key is encrypted and there is no terminal to ask for its password "
                "(give it with -sign-password-file FILE)";
        return false;
    }
    quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL);
    quiet.c_lflag |= ICANON;
    struct sigaction previous[3];
    terminal = descriptor;
    for (int i = 0; i < 3; i++) {
        struct sigaction action = {};
        sigaction(endingSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler == SIG_IGN)
            continue;
        action.sa_handler = RestoreAndEnd;
        sigaction(endingSignals[i], &action, nullptr);
    }
    ssize_t ignored = write(descriptor, prompt.data(), prompt.size());
    errno = 0;
    bool read =
        tcsetattr(descriptor, TCSAFLUSH, &quiet) == 0 && ReadLine(descriptor, password, true);
    int reason = errno;
    tcsetattr(descriptor, TCSAFLUSH, &saved);
    ignored = write(descriptor, "\n", 1);
    (void)ignored;
    terminal = -1;
    for (int i = 0; i < 3; i++)
        sigaction(endingSignals[i], &previous[i], nullptr);
    close(descriptor);
    if (!read)
        error = std::string("cannot read the password from the terminal") +
                (reason != 0 ? std::string(": ") + std::strerror(reason) : "");
    return read;
}

} // namespace

bool ReadPassword(const std::string &passwordFile, const std::string &prompt, std::string &password,
                  std::string &error)
{
    if (passwordFile.empty())
        return ReadFromTerminal(prompt, password, error);
    int descriptor = open(passwordFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    errno = descriptor >= 0 ? 0 : errno;
    bool read = descriptor >= 0 && ReadLine(descriptor, password, false);
    int reason = errno;
    if (descriptor >= 0)
        close(descriptor);
    if (!read)
        error = "cannot read the password file " + ShowName(passwordFile) + ": " +
                std::strerror(reason);
    return read;
}

#include "Installer.h"

#include <sys/stat.h>
#include <unistd.h>

/* A program whose slot is not intact cannot tell whether it is an
   installer, nor what it would unpack or run: it does nothing, with a
   status that a shell reads as a failure. Its file's size tells a copy cut
   short from a damaged one where the file can be found. */
int RefuseDamagedProgram(const std::string &shownName, const OwnImage &image)
{
    struct stat status;
    const char *executed = GetExecutedPath();
    bool sized = stat("/proc/self/exe", &status) == 0 ||
                 (executed != nullptr && stat(executed, &status) == 0);
    std::string line = shownName + ": ";
    if (sized && image.known && uint64_t(status.st_size) < image.loadedEnd)
        line += "this program is incomplete: " + std::to_string(status.st_size) + " of at least " +
                std::to_string(image.loadedEnd) + " bytes are there (was the download cut short?)";
    else
        line += "this program is damaged: the block that says whether it is an installer is "
                "not intact";
    line += "; nothing was run\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    return INSTALLER_FAILED;
}

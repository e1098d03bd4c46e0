#include "StandardDescriptors.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

bool OpenStandardDescriptors()
{
    for (int descriptor = 0; descriptor <= 2; descriptor++) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        /* The lowest free descriptor is the one that is closed. Opened for
           reading only, so that what is written to a closed output still
           fails and the program can tell. */
        int opened = open("/dev/null", O_RDONLY);
        if (opened != descriptor) {
            if (opened >= 0)
                close(opened);
            return false;
        }
    }
    return true;
}

#include "HostStream.h"

#include <fcntl.h>

int OpenArchiveFile(const char *name)
{
    return open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

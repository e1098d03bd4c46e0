#include "KeptLock.h"

#include <string>

#include <fcntl.h>

namespace
{

std::string wanted;
bool waiting = false;
int kept = -1;

} // namespace

void KeepLockOf(const char *name)
{
    wanted = name;
    waiting = true;
}

void NoteLockTaken(const char *name, int descriptor)
{
    if (!waiting || wanted != name)
        return;
    waiting = false;
    kept = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
}

int GetKeptLock()
{
    return kept;
}

#include "ReadFully.h"

#include <cerrno>

#include <unistd.h>

long ReadFully(int descriptor, uint64_t offset, unsigned char *into, unsigned count)
{
    unsigned done = 0;
    while (done < count) {
        ssize_t got = pread(descriptor, into + done, count - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += unsigned(got);
    }
    return long(done);
}

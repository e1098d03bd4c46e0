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

bool ReadAt(int descriptor, uint64_t offset, void *into, size_t length)
{
    auto *bytes = static_cast<unsigned char *>(into);
    while (length > 0) {
        ssize_t got = pread(descriptor, bytes, length, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        offset += uint64_t(got);
        length -= size_t(got);
    }
    return true;
}

#ifndef PLATFORM_STREAM_READ_FULLY_H
#define PLATFORM_STREAM_READ_FULLY_H

#include <cstddef>
#include <cstdint>

/* pread() from offset until count bytes or the end of the file, through
   interruptions: the count read, or -1 with errno set. */
long ReadFully(int descriptor, uint64_t offset, unsigned char *into, unsigned count);

/* pread() of exactly length bytes from offset, through interruptions:
   false when the file fails or ends first. */
bool ReadAt(int descriptor, uint64_t offset, void *into, size_t length);

#endif

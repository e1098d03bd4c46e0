#ifndef PLATFORM_STREAM_ISAL_LIBRARY_H
#define PLATFORM_STREAM_ISAL_LIBRARY_H

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

/* ISA-L's calls that the inflater makes, under their own names. Debian
   ships ISA-L as a shared library only: it is loaded at run time, so that
   the program starts where it is missing and reads with zlib there. */
struct IsalLibrary {
    decltype(&::isal_inflate_init) isal_inflate_init;
    decltype(&::isal_inflate_reset) isal_inflate_reset;
    decltype(&::isal_inflate) isal_inflate;
    decltype(&::crc32_gzip_refl) crc32_gzip_refl;
};

/* The library, loaded at the first call; null where it cannot be had. */
const IsalLibrary *LoadIsalLibrary();

#endif

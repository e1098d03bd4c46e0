#ifndef PROTO_NEWLIB_H
#define PROTO_NEWLIB_H

#include <exec/interfaces.h>

/* The runtime library. Its stream, string and memory calls are the host C
   library's own; only abort is the system's, so that an aborted program ends
   with a return code instead of a signal. */
struct NewlibIFace : Interface {
    [[noreturn]] void abort();
};

extern struct Library *NewlibBase;
extern struct NewlibIFace *INewlib;

/* The return code of the runtime's abort. */
#define NEWLIB_ABORT_RETURN_CODE 20

#endif

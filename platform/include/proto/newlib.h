#ifndef PROTO_NEWLIB_H
#define PROTO_NEWLIB_H

#include <stdio.h>
#include <stdlib.h>

#include <exec/interfaces.h>

/* The runtime library. Most of its stream, string and memory calls are the
   host C library's own. These are the system's: abort, so that an aborted
   program ends with a return code instead of a signal, and the calls that
   create and write files, so that a file below a locked directory is
   created as DOS creates its names (never through a symbolic link, always a
   new file: one already there is replaced, never written into, and a FIFO
   or device in its place is refused unopened) and a failure keeps the
   host's reason for the error line that reports it. Below a locked
   directory, fopen only makes files for writing ("w"). exit and _exit end
   the run: the return code passes through the run's ending, if the start-up
   set one, which may do more work and gives the process's exit status. */
struct NewlibIFace : Interface {
    [[noreturn]] void abort();
    [[noreturn]] void exit(int code);
    /* Ends the process at once, from any task, without running exit's
       handlers. */
    [[noreturn]] void _exit(int code);
    FILE *fopen(const char *name, const char *mode);
    size_t fwrite(const void *data, size_t size, size_t count, FILE *file);
    int fclose(FILE *file);
};

extern struct Library *NewlibBase;
extern struct NewlibIFace *INewlib;

/* The return code of the runtime's abort. */
#define NEWLIB_ABORT_RETURN_CODE 20

/* With __USE_INLINE__, a program calls the runtime's own calls by their
   plain names, as the system's inline headers let it call any library. */
#ifdef __USE_INLINE__
#define exit(code) INewlib->exit((code))
#define fopen(name, mode) INewlib->fopen((name), (mode))
#define fwrite(data, size, count, file) INewlib->fwrite((data), (size), (count), (file))
#define fclose(file) INewlib->fclose((file))
#endif

#endif

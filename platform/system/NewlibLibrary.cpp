#include "HostLibraries.h"

#include <cstdlib>

struct NewlibIFace hostNewlibInterface;

/* The runtime's abort ends the process through the ordinary exit path, so the
   start-up still closes every library it opened, and with a return code the
   calling script can test rather than a signal and a core dump. */
void NewlibIFace::abort()
{
    std::exit(NEWLIB_ABORT_RETURN_CODE);
}

#ifndef DRIVER_DRIVER_H
#define DRIVER_DRIVER_H

/* Closes the libraries that main opened, each only if it is open, in the
   order intuition, gadtools, graphics. */
void CloseLibraries(void);

/* Ends a run that found a fault before anything was written: closes the
   window and main's libraries and exits with return code 0. */
[[noreturn]] void EndRunEarly(void);

#endif

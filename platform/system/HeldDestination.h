#ifndef PLATFORM_SYSTEM_HELD_DESTINATION_H
#define PLATFORM_SYSTEM_HELD_DESTINATION_H

/* A destination that the program already holds open (a directory an
   installer created for -target): from now on a lock on exactly that name
   is a lock on the held directory, whatever the name has come to name
   meanwhile. Takes the descriptor over. */
void HoldDestination(const char *name, int descriptor);

#endif

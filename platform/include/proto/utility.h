#ifndef PROTO_UTILITY_H
#define PROTO_UTILITY_H

#include <exec/interfaces.h>

/* Opened by the start-up as the system requires; the program makes no utility calls. */
struct UtilityIFace : Interface {
};

extern struct Library *UtilityBase;
extern struct UtilityIFace *IUtility;

#endif

#ifndef TOOLS_REMOVE_ON_SIGNAL_H
#define TOOLS_REMOVE_ON_SIGNAL_H

#include <string>

/* While set, the file at path is removed when SIGINT, SIGTERM or SIGHUP ends
   the program; the signal then ends it as it would have. */
void RemoveOnSignal(const std::string &path);
/* The file is kept from now on (it was renamed or removed). */
void KeepOnSignal();

#endif

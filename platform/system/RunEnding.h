#ifndef PLATFORM_SYSTEM_RUN_ENDING_H
#define PLATFORM_SYSTEM_RUN_ENDING_H

/* What the start-up does when the run ends, by main's return or through
   the runtime's exit or _exit: it receives the return code and gives the
   process's exit status. atOnce: the process must end now (from any
   thread), with no lengthy work. */
using RunEnding = int (*)(int returnCode, bool atOnce);

void SetRunEnding(RunEnding ending);

#endif

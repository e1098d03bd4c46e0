#include "progress.h"

#include <stdio.h>
#include <string.h>

#include <proto/dos.h>

#include "../archive/EntryName.h"

/* The progress operations without a window: progress is not shown, and an
   error line goes to standard error as one line, with any control bytes that
   an archive's names carry shown escaped. */

int InitInterface(void)
{
    return 1;
}

void CloseInterface(void)
{
}

void UpdateMessage(const char *text, int flag)
{
    if (flag != 1)
        return;
    char line[2048];
    EscapeText(text, strlen(text), line, sizeof line, KEEP_BACKSLASH);
    fprintf(stderr, "%s\n", line);
    fflush(stderr);
    IDOS->Delay(150);
}

int UpdatePercentage(int, int)
{
    return 1;
}

#include "driver.h"

#include <stdlib.h>

#include <proto/exec.h>
#include <proto/gadtools.h>
#include <proto/graphics.h>
#include <proto/intuition.h>
#include <proto/newlib.h>

#include "../progress/progress.h"

void CloseLibraries(void)
{
    if (IntuitionBase != NULL)
        IExec->CloseLibrary(IntuitionBase);
    if (GadToolsBase != NULL)
        IExec->CloseLibrary(GadToolsBase);
    if (GfxBase != NULL)
        IExec->CloseLibrary(GfxBase);
    IntuitionBase = NULL;
    GadToolsBase = NULL;
    GfxBase = NULL;
}

void EndRunEarly(void)
{
    CloseInterface();
    CloseLibraries();
    exit(0);
}

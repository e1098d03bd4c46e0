#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <proto/exec.h>
#include <proto/gadtools.h>
#include <proto/graphics.h>
#include <proto/intuition.h>

#include <signature/check.h>

#include "../archive/archive.h"
#include "../progress/progress.h"
#include "driver.h"

/* Return codes: 1 everything unpacked, 2 aborted by the user, 0 any failure. */

static void PrintUsage(void)
{
    puts("Usage: Velorin <options>");
    puts("   -archive: specify the archive name");
    puts("   -dest:    specify the patch to expand to");
}

/* Copies an option's value; a value that does not fit with its terminator
   is refused rather than cut, since a cut name would be another file. */
static int CopyOptionValue(char buffer[512], const char *value)
{
    if (strlen(value) >= 512)
        return 0;
    strncpy(buffer, value, 512);
    return 1;
}

int main(int argc, char **argv)
{
    char destination[512];
    char archiveName[512];
    BOOL destinationGiven = FALSE;
    BOOL archiveGiven = FALSE;
    const char *key = NULL;
    const char *signatureName = NULL;

    IntuitionBase = IExec->OpenLibrary("intuition.library", 36);
    if (IntuitionBase == NULL) {
        printf("Unable to open intuition.library");
        return 0;
    }
    GadToolsBase = IExec->OpenLibrary("gadtools.library", 36);
    if (GadToolsBase == NULL) {
        IExec->CloseLibrary(IntuitionBase);
        printf("Unable to open gadtools.library");
        return 0;
    }
    GfxBase = IExec->OpenLibrary("graphics.library", 36);
    if (GfxBase == NULL) {
        IExec->CloseLibrary(IntuitionBase);
        IExec->CloseLibrary(GadToolsBase);
        printf("Unable to open graphics.library");
        return 0;
    }

    if (argc <= 1) {
        puts("Missing destination");
        EndRunEarly();
    }
    for (int i = 1; i < argc; i += 2) {
        /* Asked for its version, it says so and unpacks nothing. */
        if (strcasecmp(argv[i], "-version") == 0) {
            printf("velorin %s\n", VELORIN_VERSION);
            CloseLibraries();
            return 0;
        }
        /* A switch without a value: the pairs go on from the next argument. */
        if (strcasecmp(argv[i], "-nospacecheck") == 0) {
            checkspace = 0;
            i--;
            continue;
        }
        /* An option name with no value after it is a malformed command line. */
        if (i + 1 >= argc) {
            PrintUsage();
            EndRunEarly();
        }
        if (strcasecmp(argv[i], "-archive") == 0) {
            if (!CopyOptionValue(archiveName, argv[i + 1])) {
                puts("Archive name too long");
                EndRunEarly();
            }
            archiveGiven = TRUE;
        } else if (strcasecmp(argv[i], "-dest") == 0) {
            if (!CopyOptionValue(destination, argv[i + 1])) {
                puts("Destination name too long");
                EndRunEarly();
            }
            destinationGiven = TRUE;
        } else if (strcasecmp(argv[i], "-key") == 0) {
            key = argv[i + 1];
        } else if (strcasecmp(argv[i], "-signature") == 0) {
            signatureName = argv[i + 1];
        } else {
            PrintUsage();
            EndRunEarly();
        }
    }
    if (!destinationGiven) {
        puts("Missing destination");
        EndRunEarly();
    }
    if (!archiveGiven) {
        puts("Missing archive name");
        EndRunEarly();
    }
    if (signatureName != NULL && key == NULL) {
        puts("Missing key: -signature needs -key");
        EndRunEarly();
    }

    if (InitInterface() == 0) {
        CloseInterface();
        puts("Unable to init interface");
        EndRunEarly();
    }
    /* A signed archive is checked whole before anything is created; the
       passes then read the very file that was checked. */
    if (key != NULL) {
        UpdateMessage("Checking the signature", 0);
        const char *refusal = CheckArchiveSignature(archiveName, key, signatureName);
        if (refusal != NULL) {
            UpdateMessage(refusal, 1);
            EndRunEarly();
        }
    }
    int result = HandleArchive(archiveName, destination);
    CloseInterface();
    CloseLibraries();
    /* A writing pass that stopped on an error is a failure like any other. */
    return result == RUN_FAILED ? 0 : result;
}

#include "archive.h"

#include <string.h>

#include <proto/dos.h>

#include "EntryPath.h"
#include "WholeTree.h"

/* thefile = the destination, ready for an entry's name to follow it
   directly: the file system decides which separator that takes (none
   after a volume name on the system, always '/' on a POSIX host). */
static void FormDestinationPrefix(const char *destName)
{
    strncpy(thefile, destName, sizeof thefile - 1);
    thefile[sizeof thefile - 1] = '\0';
    IDOS->AddPart(thefile, "", sizeof thefile);
}

int UnpackArchive(const char *destName)
{
    FormDestinationPrefix(destName);
    ForgetAbsentDirectory();
    ForgetTree();
    int result;
    do {
        result = UnpackFile(archive);
    } while (result == ENTRY_DONE);
    if (result == ARCHIVE_ENDED)
        result = FinishTree();
    ForgetTree();
    return result;
}

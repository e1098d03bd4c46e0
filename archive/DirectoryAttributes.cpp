#include "WholeTree.h"

#include <stdlib.h>
#include <string.h>

#include <proto/dos.h>

#include "../progress/progress.h"
#include "archive.h"

/* A directory created this run, waiting for its mode and time until its
   content is written: a directory without write permission could not be
   filled, and every entry made inside one changes its time. */
struct LaterDirectory {
    char *path;
    struct EntryAttributes described;
};

static struct LaterDirectory *laterdirectories;
static size_t laterdirectorycount, laterdirectoryroom;

void ForgetDirectories(void)
{
    for (size_t i = 0; i < laterdirectorycount; i++)
        free(laterdirectories[i].path);
    free(laterdirectories);
    laterdirectories = NULL;
    laterdirectorycount = laterdirectoryroom = 0;
}

int RememberDirectory(const char *path, const struct EntryAttributes *described)
{
    if (laterdirectorycount == laterdirectoryroom) {
        size_t room = laterdirectoryroom != 0 ? laterdirectoryroom * 2 : 64;
        struct LaterDirectory *grown =
            (struct LaterDirectory *)realloc(laterdirectories, room * sizeof *laterdirectories);
        if (grown == NULL) {
            UpdateMessage("Not enough memory to unpack the archive", 1);
            return -1;
        }
        laterdirectories = grown;
        laterdirectoryroom = room;
    }
    char *copy = strdup(path);
    if (copy == NULL) {
        UpdateMessage("Not enough memory to unpack the archive", 1);
        return -1;
    }
    laterdirectories[laterdirectorycount].path = copy;
    laterdirectories[laterdirectorycount].described = *described;
    laterdirectorycount++;
    return 0;
}

int SetDirectoryAttributes(void)
{
    /* A directory comes before its content, so backwards is deepest first. */
    size_t prefixLength = strlen(thefile);
    int result = ARCHIVE_ENDED;
    for (size_t i = laterdirectorycount; i-- > 0 && result == ARCHIVE_ENDED;) {
        const struct LaterDirectory *directory = &laterdirectories[i];
        const char *name = directory->path + prefixLength;
        /* A mode that leaves the owner everything was given at creation. */
        uint16_t mode = directory->described.mode;
        if ((directory->described.fields & ATTRIBUTE_MODE) && (mode & 0700) != 0700 &&
            IDOS->SetProtection(directory->path, ProtectionForMode(directory->described.mode)) ==
                DOSFALSE) {
            ShowEntryError("Unable to set the protection of %s", name);
            result = RUN_FAILED;
        } else if (SetEntryDate(directory->path, &directory->described) == DOSFALSE) {
            ShowEntryError("Unable to set the time of %s", name);
            result = RUN_FAILED;
        }
    }
    ForgetDirectories();
    return result;
}

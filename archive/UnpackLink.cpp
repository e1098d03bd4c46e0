#include "WholeTree.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <proto/dos.h>

#include "../format/EntryName.h"
#include "../format/LinkTarget.h"
#include "../progress/progress.h"
#include "NameSet.h"
#include "archive.h"
#include <text/escape.h>

/* A symbolic link waiting for the end of the pass: made after every file,
   so that no entry of the archive is ever written through one. */
struct LaterLink {
    char *name;
    char *target;
    struct EntryAttributes described;
};

static struct LaterLink *laterlinks;
static size_t laterlinkcount, laterlinkroom;
/* The names of those links, and of the files that hard links name. */
static struct NameSet linknames, linkedfiles;

void ForgetTree(void)
{
    for (size_t i = 0; i < laterlinkcount; i++) {
        free(laterlinks[i].name);
        free(laterlinks[i].target);
    }
    free(laterlinks);
    laterlinks = NULL;
    laterlinkcount = laterlinkroom = 0;
    ClearNames(&linknames);
    ClearNames(&linkedfiles);
    attributes.present = 0;
    ForgetDirectories();
}

static int ShowOutOfMemory(void)
{
    UpdateMessage("Not enough memory to unpack the archive", 1);
    return RUN_FAILED;
}

int RememberLinkedFile(const char *name)
{
    return AddName(&linkedfiles, name) ? 0 : ShowOutOfMemory();
}

static int RememberSymbolicLink(const char *name, const char *target,
                                const struct EntryAttributes *described)
{
    if (laterlinkcount == laterlinkroom) {
        size_t room = laterlinkroom != 0 ? laterlinkroom * 2 : 64;
        struct LaterLink *grown =
            (struct LaterLink *)realloc(laterlinks, room * sizeof *laterlinks);
        if (grown == NULL)
            return ShowOutOfMemory();
        laterlinks = grown;
        laterlinkroom = room;
    }
    struct LaterLink *link = &laterlinks[laterlinkcount];
    link->name = strdup(name);
    link->target = strdup(target);
    link->described = *described;
    if (link->name == NULL || link->target == NULL || !AddName(&linknames, name)) {
        free(link->name);
        free(link->target);
        return ShowOutOfMemory();
    }
    laterlinkcount++;
    return ENTRY_DONE;
}

/* thefile followed by name, into path (room for both). */
static void FormPath(char *path, const char *name)
{
    size_t length = strlen(thefile);
    memcpy(path, thefile, length);
    strcpy(path + length, name);
}

/* Whether the directory at name below the destination is a symbolic link,
   or is reached through one. */
static int IsLinkInDestination(const char *name)
{
    char path[sizeof thefile + 512];
    FormPath(path, name);
    BPTR lock = IDOS->Lock(path, SHARED_LOCK);
    if (lock != 0) {
        IDOS->UnLock(lock);
        return 0;
    }
    return IDOS->IoErr() == ERROR_IS_SOFT_LINK;
}

/* A directory a link's target passes through must be a real one: neither
   a link of this archive nor one already in the destination. */
static int PassesRealDirectory(const char *directory, void *context)
{
    (void)context;
    return !HasName(&linknames, directory) && !IsLinkInDestination(directory);
}

static void ShowLinkError(const char *format, const char *name, const char *target)
{
    /* Room for both next to the message's other characters; a long one is
       cut. */
    char shownName[(sizeof printbuffer - 24) / 2], shownTarget[(sizeof printbuffer - 24) / 2];
    EscapeText(name, strlen(name), shownName, sizeof shownName, ESCAPE_BACKSLASH);
    EscapeText(target, strlen(target), shownTarget, sizeof shownTarget, ESCAPE_BACKSLASH);
    snprintf(printbuffer, sizeof printbuffer, format, shownName, shownTarget);
    /* The look-ups that found the link unsafe leave no reason to show. */
    IDOS->SetIoErr(0);
    UpdateMessage(printbuffer, 1);
}

/* The link's own directory, which must not be or lie behind a link. */
static int LiesBehindLink(const char *name)
{
    char parent[256];
    const char *slash = strrchr(name, '/');
    if (slash == NULL)
        return 0;
    memcpy(parent, name, (size_t)(slash - name));
    parent[slash - name] = '\0';
    return IsLinkInDestination(parent);
}

int UnpackLink(const struct FileHeader *entry, uint16_t type,
               const struct EntryAttributes *described)
{
    const char *name = entry->name;
    size_t nameLength = strlen(name);
    const char *target = name + nameLength + 1;
    if (nameLength + 1 >= sizeof entry->name ||
        memchr(target, '\0', sizeof entry->name - nameLength - 1) == NULL ||
        (type == ENTRY_HARD_LINK && described->present)) {
        UpdateMessage("Error reading archive file header", 1);
        return RUN_FAILED;
    }
    int soft = type == ENTRY_SYMBOLIC_LINK;
    const char *kind = soft ? "Unsafe symbolic link %s -> %s" : "Unsafe hard link %s -> %s";
    /* A hard link names a file this archive made earlier, never itself. */
    if (!soft && (!HasName(&linkedfiles, target) || strcmp(name, target) == 0)) {
        ShowLinkError(kind, name, target);
        return RUN_FAILED;
    }
    if (fakeit && LiesBehindLink(name)) {
        ShowEntryError("Unable to create %s through a symbolic link", name);
        return RUN_FAILED;
    }
    if (soft)
        return RememberSymbolicLink(name, target, described);
    if (fakeit)
        return ENTRY_DONE;
    char path[sizeof thefile + 256], targetPath[sizeof thefile + 256];
    FormPath(path, name);
    FormPath(targetPath, target);
    /* The file is looked up below the destination as every name is, never
       through a link, and linked as the very file found. */
    BPTR lock = IDOS->Lock(targetPath, SHARED_LOCK);
    struct FileInfoBlock info;
    int made = 0;
    if (lock != 0 && IDOS->Examine(lock, &info) != DOSFALSE) {
        if (info.fib_DirEntryType > 0)
            IDOS->SetIoErr(ERROR_OBJECT_WRONG_TYPE);
        else
            made = IDOS->MakeLink(path, (APTR)lock, LINK_HARD) != DOSFALSE;
    }
    IDOS->UnLock(lock);
    if (made)
        return ENTRY_DONE;
    ShowEntryError("Unable to create link %s", name);
    return RUN_FAILED;
}

/* Every link of the archive, checked against all of them and against what
   the destination holds; in the writing pass, made. */
static int CheckOrMakeSymbolicLinks(void)
{
    for (size_t i = 0; i < laterlinkcount; i++) {
        const struct LaterLink *link = &laterlinks[i];
        if (!IsSafeLinkTarget(link->name, link->target, PassesRealDirectory, NULL)) {
            ShowLinkError("Unsafe symbolic link %s -> %s", link->name, link->target);
            return RUN_FAILED;
        }
        if (fakeit)
            continue;
        char path[sizeof thefile + 256];
        FormPath(path, link->name);
        if (IDOS->MakeLink(path, (APTR)link->target, LINK_SOFT) == DOSFALSE) {
            ShowEntryError("Unable to create link %s", link->name);
            return RUN_FAILED;
        }
        if (SetEntryDate(path, &link->described) == DOSFALSE) {
            ShowEntryError("Unable to set the time of %s", link->name);
            return RUN_FAILED;
        }
    }
    return ARCHIVE_ENDED;
}

int FinishTree(void)
{
    if (attributes.present) {
        UpdateMessage("Error reading archive file header", 1);
        return RUN_FAILED;
    }
    int result = CheckOrMakeSymbolicLinks();
    if (result == ARCHIVE_ENDED && !fakeit)
        result = SetDirectoryAttributes();
    return result;
}

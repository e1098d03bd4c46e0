#include "archive.h"

#include <stdio.h>
#include <string.h>

#include <proto/dos.h>
#include <proto/newlib.h>

#include "../format/EntryName.h"
#include "../progress/progress.h"
#include "EntryPath.h"
#include "Percentages.h"
#include "WholeTree.h"
#include <text/escape.h>

/* A program file may be read, written, executed and deleted by everyone,
   as far as the file system lets a new file be. */
#define PROGRAM_PROTECTION                                                                         \
    (FIBF_GRP_READ | FIBF_GRP_WRITE | FIBF_GRP_EXECUTE | FIBF_GRP_DELETE | FIBF_OTR_READ |         \
     FIBF_OTR_WRITE | FIBF_OTR_EXECUTE | FIBF_OTR_DELETE)

void ShowEntryError(const char *format, const char *name)
{
    snprintf(printbuffer, sizeof printbuffer, format, name);
    UpdateMessage(printbuffer, 1);
}

/* first and then at most secondMax bytes of second, into text, which has
   room for both: once per entry and pass, so copied rather than formatted. */
static void JoinText(char *text, const char *first, const char *second, size_t secondMax)
{
    size_t firstLength = strlen(first);
    size_t secondLength = strnlen(second, secondMax);
    memcpy(text, first, firstLength);
    memcpy(text + firstLength, second, secondLength);
    text[firstLength + secondLength] = '\0';
}

/* The mode a directory has while it is filled: its own, with everything
   for the owner, so that its content can be written and others never see
   more than the archive lets them. */
#define FILLING_MODE(mode) ((uint16_t)((mode) | 0700))

static int UnpackDirectory(const struct FileHeader *entry, const char *path,
                           const struct EntryAttributes *described)
{
    if (fakeit) {
        CountEntrySpace(0);
        return ENTRY_DONE;
    }
    BPTR lock = IDOS->CreateDir(path);
    if (lock != 0) {
        /* Only a directory made here takes the archive's mode and time; one
           already there keeps its own. It is changed while it is locked, so
           that the directory changed is the one made. */
        int failed =
            described->present && (described->fields & ATTRIBUTE_MODE) &&
            IDOS->SetProtection(path, ProtectionForMode(FILLING_MODE(described->mode))) == DOSFALSE;
        IDOS->UnLock(lock);
        if (failed) {
            ShowEntryError("Unable to set the protection of %s", entry->name);
            return RUN_FAILED;
        }
        if (!described->present)
            return ENTRY_DONE;
        return RememberDirectory(path, described) == 0 ? ENTRY_DONE : RUN_FAILED;
    }
    /* Whatever already holds the name counts as the directory. */
    if (IDOS->IoErr() == ERROR_OBJECT_EXISTS)
        return ENTRY_DONE;
    ShowEntryError("Unable to create directory %s", entry->name);
    return RUN_FAILED;
}

/* Copies the entry's data in pieces of at most BUFFER_SIZE bytes; the sizing
   pass reads the same pieces and only counts them. */
static int UnpackFileData(gzFile stream, const struct FileHeader *entry, const char *path,
                          const struct EntryAttributes *described)
{
    int hasMode = described->present && (described->fields & ATTRIBUTE_MODE);
    FILE *output = NULL;
    if (!fakeit) {
        output = fopen(path, "w");
        if (output == NULL) {
            ShowEntryError("Unable to create file %s", entry->name);
            return RUN_FAILED;
        }
        /* Each piece is already one block of up to 65535 bytes: written as
           it stands, in one call, rather than copied through the stream's
           own buffer and split. */
        setvbuf(output, NULL, _IONBF, 0);
        /* Narrowed before any data reach it, so that a private file is
           never readable by others; execute permission comes once it is
           whole. */
        if (hasMode &&
            IDOS->SetProtection(path, ProtectionForMode(described->mode & 0666)) == DOSFALSE) {
            ShowEntryError("Unable to set the protection of %s", entry->name);
            fclose(output);
            return RUN_FAILED;
        }
    }
    uint64_t size = ReadBigEndian32(entry->size);
    if (described->present)
        size |= (uint64_t)described->sizehigh << 32;
    uint64_t remaining = size;
    uint64_t done = 0;
    while (remaining != 0) {
        uint32_t piece = remaining <= BUFFER_SIZE ? (uint32_t)remaining : BUFFER_SIZE;
        if (gzread(stream, Buffer, piece) != (int)piece) {
            ShowEntryError("Error reading %s from archive stream", entry->name);
            if (output != NULL)
                fclose(output);
            return RUN_FAILED;
        }
        if (fakeit) {
            remaining -= piece;
            done += piece;
            continue;
        }
        if (fwrite(Buffer, piece, 1, output) == 0) {
            ShowEntryError("Error writing to %s", entry->name);
            fclose(output);
            return RUN_FAILED;
        }
        remaining -= piece;
        bytescount += piece;
        done += piece;
        int total = ComputeTotalPercentage(bytescount, totalfilesize);
        if (UpdatePercentage(total, ComputeFilePercentage(done, size)) == 0) {
            fclose(output);
            return RUN_ABORTED;
        }
    }
    /* Both passes learn which files hard links may name. */
    if (HasEntryFlags(&header) && (ReadBigEndian16(entry->flags) & ENTRY_FLAG_LINKED) &&
        RememberLinkedFile(entry->name) != 0) {
        if (output != NULL)
            fclose(output);
        return RUN_FAILED;
    }
    if (fakeit) {
        totalfilesize += (int64_t)done;
        CountEntrySpace(done);
        return ENTRY_DONE;
    }
    /* Only an archive that carries entry flags says which files are
       programs. A program is made executable once it is whole, while it is
       still open, so that the file changed is the file written. */
    int executable =
        hasMode ? (described->mode & 0111) != 0
                : HasEntryFlags(&header) && (ReadBigEndian16(entry->flags) & ENTRY_FLAG_EXECUTABLE);
    ULONG protection = hasMode ? ProtectionForMode(described->mode) : PROGRAM_PROTECTION;
    if (executable && IDOS->SetProtection(path, protection) == DOSFALSE) {
        ShowEntryError("Unable to make %s executable", entry->name);
        fclose(output);
        return RUN_FAILED;
    }
    if (SetEntryDate(path, described) == DOSFALSE) {
        ShowEntryError("Unable to set the time of %s", entry->name);
        fclose(output);
        return RUN_FAILED;
    }
    /* The last buffered bytes reach the disk only here: a failing close is a
       failed write. */
    if (fclose(output) != 0) {
        ShowEntryError("Error writing to %s", entry->name);
        return RUN_FAILED;
    }
    return ENTRY_DONE;
}

/* Where the content of an entry's name field ends: after the name's NUL,
   and for a link after its target's; the field's size when a NUL is
   missing. */
static size_t FieldContentEnd(const struct FileHeader *entry, const char *nameEnd, int isLink)
{
    if (nameEnd == NULL)
        return sizeof entry->name;
    size_t end = (size_t)(nameEnd - entry->name) + 1;
    if (!isLink || end >= sizeof entry->name)
        return end;
    const char *targetEnd = (const char *)memchr(entry->name + end, '\0', sizeof entry->name - end);
    return targetEnd != NULL ? (size_t)(targetEnd - entry->name) + 1 : sizeof entry->name;
}

int UnpackFile(gzFile stream)
{
    struct FileHeader entry;
    char text[2048];
    int count = gzread(stream, &entry, sizeof entry);
    if (count == 0)
        return ARCHIVE_ENDED;
    if (count != (int)sizeof entry) {
        UpdateMessage("Error reading archive file header", 1);
        return RUN_FAILED;
    }
    uint16_t type = ReadBigEndian16(entry.type);
    /* Links and attributes are read only where the archive says it holds
       them; elsewhere they are entries of other types, passed over. */
    int wholeTree = HasEntryFlags(&header);
    if (wholeTree && type == ENTRY_ATTRIBUTES) {
        if (ReadAttributes(&entry) == 0)
            return ENTRY_DONE;
        UpdateMessage("Error reading archive file header", 1);
        return RUN_FAILED;
    }
    int isLink = wholeTree && (type == ENTRY_SYMBOLIC_LINK || type == ENTRY_HARD_LINK);
    /* The attributes describe this entry alone, which must be one they fit. */
    struct EntryAttributes described = attributes;
    attributes.present = 0;
    if (described.present && type != ENTRY_FILE && type != ENTRY_DIRECTORY && !isLink) {
        UpdateMessage("Error reading archive file header", 1);
        return RUN_FAILED;
    }
    int touchesFiles = type == ENTRY_FILE || type == ENTRY_DIRECTORY || isLink;
    /* Other writers name a directory "docs/": that is the directory docs. */
    const char *nameEnd = (const char *)memchr(entry.name, '\0', sizeof entry.name);
    char *trimmed = NULL;
    if (type == ENTRY_DIRECTORY && nameEnd != NULL && nameEnd - entry.name > 1 &&
        nameEnd[-1] == '/') {
        trimmed = entry.name + (nameEnd - entry.name - 1);
        *trimmed = '\0';
    }
    /* Attributes may close the entry's own name field instead of coming in
       a record before it. */
    if (touchesFiles && wholeTree &&
        (ReadBigEndian16(entry.flags) & (ENTRY_FLAG_MODE | ENTRY_FLAG_TIME)) &&
        ReadEntryAttributes(&entry, FieldContentEnd(&entry, nameEnd, isLink), &described) != 0) {
        UpdateMessage("Error reading archive file header", 1);
        return RUN_FAILED;
    }
    /* A name that could reach outside the destination stops the run; in the
       sizing pass that is before anything has been created. An entry of
       another type never reaches the file system, whatever its name. The
       error shows the name as the archive has it. */
    if (touchesFiles && !IsSafeEntryName(entry.name, sizeof entry.name)) {
        if (trimmed != NULL)
            *trimmed = '/';
        /* Room for the escaped name next to the message's 20 other characters. */
        char escaped[sizeof printbuffer - 20];
        EscapeText(entry.name, sizeof entry.name, escaped, sizeof escaped, ESCAPE_BACKSLASH);
        ShowEntryError("Unsafe entry name \"%s\"", escaped);
        return RUN_FAILED;
    }
    /* The name ends within its field for files and directories; for other
       entries it is cut at the field's end. */
    static_assert(sizeof thefile + sizeof entry.name < sizeof text, "a path fits");
    JoinText(text, fakeit ? "Preparing " : "", entry.name, sizeof entry.name);
    UpdateMessage(text, 0);
    if (!touchesFiles)
        return ENTRY_DONE;
    /* Refused before anything is written. The writing pass itself never
       creates anything through a link, so it need not ask again. A
       directory that is itself a link counts as one that exists; nothing is
       written to it. */
    if (isLink)
        return UnpackLink(&entry, type, &described);
    if (fakeit && LeadsThroughLink(thefile, entry.name, type == ENTRY_DIRECTORY)) {
        ShowEntryError("Unable to create %s through a symbolic link", entry.name);
        return RUN_FAILED;
    }
    JoinText(text, thefile, entry.name, sizeof entry.name);
    if (type == ENTRY_DIRECTORY)
        return UnpackDirectory(&entry, text, &described);
    return UnpackFileData(stream, &entry, text, &described);
}

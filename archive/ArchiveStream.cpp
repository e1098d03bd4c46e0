#include "archive.h"

#include <stdio.h>

#include "../progress/progress.h"

int OpenArchive(const char *archiveName)
{
    archive = gzopen(archiveName, "r");
    if (archive == NULL) {
        snprintf(printbuffer, sizeof printbuffer, "Unable to open archive %s", archiveName);
        UpdateMessage(printbuffer, 1);
        return -1;
    }
    if (gzread(archive, &header, sizeof header) != (int)sizeof header) {
        UpdateMessage("Data error while reading archive header", 1);
        CloseArchive();
        return -1;
    }
    /* Files of 4 GiB or more come in archives of their own version, which
       also carry the signature that announces them. */
    uint16_t version = ReadBigEndian16(header.version);
    if (version != ARCHIVE_VERSION &&
        !(version == ARCHIVE_VERSION_LARGE_FILES && HasEntryFlags(&header))) {
        UpdateMessage("Wrong archive version for this program", 1);
        CloseArchive();
        return -1;
    }
    return 0;
}

void CloseArchive(void)
{
    gzclose(archive);
    archive = NULL;
}

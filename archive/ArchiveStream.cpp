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
    if (ReadArchive(archive, &header, sizeof header) != (int)sizeof header) {
        UpdateMessage("Data error while reading archive header", 1);
        CloseArchive();
        return -1;
    }
    if (ReadBigEndian16(header.version) != ARCHIVE_VERSION) {
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

/* gzread, except that a gzip stream which breaks off is an error. gzread
   hands back what it could inflate and then reports a plain end of stream;
   only gzerror's Z_BUF_ERROR tells that the file ended inside a gzip member.
   Without this check a truncated archive would pass for a complete one. */
int ReadArchive(gzFile stream, void *buffer, unsigned length)
{
    int count = gzread(stream, buffer, length);
    if (count >= 0 && (unsigned)count < length) {
        int error = Z_OK;
        gzerror(stream, &error);
        if (error == Z_BUF_ERROR)
            return -1;
    }
    return count;
}

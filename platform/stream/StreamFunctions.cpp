#include <stream/gzip.h>

#include <cstdio>
#include <cstring>

#include "../text/HostReason.h"
#include "HostStream.h"

namespace
{

ReadShortfall lastShortfall = ReadShortfall::None;
/* The reason for damaged data; it follows the error line of the read that met them. */
char damageReason[160];

/* Damaged data, named as gzip names a checksum that does not match. */
void RecordDamage(const char *text)
{
    lastShortfall = ReadShortfall::Damaged;
    std::snprintf(damageReason, sizeof damageReason, "invalid compressed data (%s)",
                  std::strcmp(text, "incorrect data check") == 0 ? "CRC error" : text);
    RecordHostReasonText(damageReason);
}

/* Records why a read delivered fewer bytes than asked for: the file could
   not be read, its data are damaged, or the archive ends before them. */
void RecordShortfall(HostStream *file)
{
    int code = Z_OK;
    const char *text = file->DescribeError(&code);
    if (code == Z_ERRNO) {
        lastShortfall = ReadShortfall::None;
        RecordHostReason(file->SystemError());
    } else if (code == Z_DATA_ERROR) {
        RecordDamage(text);
    } else {
        lastShortfall = ReadShortfall::EndsEarly;
        RecordHostReasonText("the archive ends early");
    }
}

} // namespace

gzFile gzopen(const char *path, const char *mode)
{
    if (path == nullptr || mode == nullptr || mode[0] != 'r')
        return nullptr;
    lastShortfall = ReadShortfall::None;
    ArchiveRegion region;
    if (!OpenArchiveFile(path, region))
        return nullptr;
    return StartInflater(region);
}

int gzread(gzFile file, void *buffer, unsigned length)
{
    if (file == nullptr)
        return -1;
    int count = file->Read(buffer, length);
    if (count >= 0 && unsigned(count) == length) {
        /* Bytes of a member already known damaged may be garbage, which
           the caller can find wrong before a read meets the damage: its
           error line then still says why. */
        if (const char *damage = file->KnownDamage()) {
            RecordDamage(damage);
        } else {
            lastShortfall = ReadShortfall::None;
            RecordHostReason(0);
        }
    } else {
        RecordShortfall(file);
    }
    return count;
}

const char *gzerror(gzFile file, int *errnum)
{
    if (file == nullptr) {
        if (errnum != nullptr)
            *errnum = Z_STREAM_ERROR;
        return "no stream";
    }
    return file->DescribeError(errnum);
}

int gzclose(gzFile file)
{
    if (file == nullptr)
        return Z_STREAM_ERROR;
    delete file;
    CloseArchiveFile();
    /* What a read met is of no matter once the stream is closed whole: a
       fault found after it is not the archive's. */
    lastShortfall = ReadShortfall::None;
    return Z_OK;
}

ReadShortfall GetLastReadShortfall()
{
    return lastShortfall;
}

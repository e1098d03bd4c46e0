#include "EntryAttributes.h"

#include <proto/dos.h>

#include "archive.h"

struct EntryAttributes attributes;

/* The 19 bytes of attributes at block, their fields as given, into read:
   0, or -1 when they are damaged. */
static int DecodeAttributes(const uint8_t *block, uint16_t fields, struct EntryAttributes *read)
{
    read->present = 1;
    read->fields = fields;
    read->mode = ReadBigEndian16(block + ATTRIBUTES_MODE_AT) & 0777;
    read->seconds = (int64_t)ReadBigEndian64(block + ATTRIBUTES_SECONDS_AT);
    uint32_t nanoseconds = ReadBigEndian32(block + ATTRIBUTES_NANOSECONDS_AT);
    read->sizehigh = ReadBigEndian32(block + ATTRIBUTES_SIZE_HIGH_AT);
    read->nanoseconds = (int32_t)nanoseconds;
    /* A size that an older reader would take for a different one is only
       read where such a reader refuses the archive. */
    if (block[0] != 0 || nanoseconds >= 1000000000u ||
        (read->sizehigh != 0 && ReadBigEndian16(header.version) != ARCHIVE_VERSION_LARGE_FILES))
        return -1;
    return 0;
}

int ReadAttributes(const struct FileHeader *entry)
{
    if (attributes.present)
        return -1;
    struct EntryAttributes read;
    if (DecodeAttributes((const uint8_t *)entry->name, ReadBigEndian16(entry->flags), &read) != 0)
        return -1;
    attributes = read;
    return 0;
}

int ReadEntryAttributes(const struct FileHeader *entry, size_t end,
                        struct EntryAttributes *described)
{
    uint16_t flags = ReadBigEndian16(entry->flags);
    if (described->present || end > ATTRIBUTES_IN_ENTRY_AT)
        return -1;
    uint16_t fields = (uint16_t)(((flags & ENTRY_FLAG_MODE) ? ATTRIBUTE_MODE : 0) |
                                 ((flags & ENTRY_FLAG_TIME) ? ATTRIBUTE_TIME : 0));
    return DecodeAttributes((const uint8_t *)entry->name + ATTRIBUTES_IN_ENTRY_AT, fields,
                            described);
}

ULONG ProtectionForMode(uint16_t mode)
{
    /* The owner's bits deny when set, the others' allow when set; deleting
       follows writing. */
    ULONG protect = 0;
    if (!(mode & 0400))
        protect |= FIBF_READ;
    if (!(mode & 0200))
        protect |= FIBF_WRITE | FIBF_DELETE;
    if (!(mode & 0100))
        protect |= FIBF_EXECUTE;
    if (mode & 0040)
        protect |= FIBF_GRP_READ;
    if (mode & 0020)
        protect |= FIBF_GRP_WRITE | FIBF_GRP_DELETE;
    if (mode & 0010)
        protect |= FIBF_GRP_EXECUTE;
    if (mode & 0004)
        protect |= FIBF_OTR_READ;
    if (mode & 0002)
        protect |= FIBF_OTR_WRITE | FIBF_OTR_DELETE;
    if (mode & 0001)
        protect |= FIBF_OTR_EXECUTE;
    return protect;
}

/* Seconds from 1970 to 1978, where dates start. */
#define DATE_EPOCH 252460800

LONG SetEntryDate(const char *path, const struct EntryAttributes *described)
{
    if (!described->present || !(described->fields & ATTRIBUTE_TIME))
        return DOSTRUE;
    /* Days, minutes and ticks counted down from the time, so that a time
       before 1978 has negative days and the rest in their ranges. */
    int64_t seconds = described->seconds - DATE_EPOCH;
    int64_t days = seconds / 86400 - (seconds % 86400 < 0);
    int64_t rest = seconds - days * 86400;
    struct DateStamp date;
    /* Days beyond what the system counts (millions of years) are held at
       its ends. */
    date.ds_Days = days > INT32_MAX ? INT32_MAX : days < INT32_MIN ? INT32_MIN : (LONG)days;
    date.ds_Minute = (LONG)(rest / 60);
    date.ds_Tick = (LONG)(rest % 60 * TICKS_PER_SECOND +
                          described->nanoseconds / (1000000000 / TICKS_PER_SECOND));
    date.ds_Nanosecond = described->nanoseconds % (1000000000 / TICKS_PER_SECOND);
    return IDOS->SetDate(path, &date);
}

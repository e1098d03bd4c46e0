#ifndef FORMAT_ARCHIVE_READER_H
#define FORMAT_ARCHIVE_READER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <stream/gzip.h>

#include "ArchiveFormat.h"

/* What stops a reading of an archive, in the order the reader meets them. */
enum class ArchiveFault {
    None,
    CannotOpen,       /* the file cannot be opened */
    ShortHeader,      /* fewer than 8 bytes, or a read error, in the archive header */
    WrongVersion,     /* a version other than 1 */
    ShortEntryHeader, /* 1 to 263 bytes, or a read error, where an entry header begins */
    UnsafeName,       /* a name that could reach outside the destination */
    ShortData,        /* a file's data end early or cannot be read */
    DamagedRecord,    /* an attributes record or a link entry that breaks the rules */
    UnsafeLink,       /* a link whose target Velorin refuses */
};

struct ArchiveEntryInfo {
    std::string name; /* up to the NUL, or the whole field when it has none */
    uint64_t size;    /* a file's, with the high bits of its attributes */
    uint16_t type;
    uint16_t flags;  /* ENTRY_FLAG_*; 0 in an archive that carries no entry flags */
    uint64_t offset; /* where its header begins in the archive stream */
    /* ATTRIBUTE_* that the record before it gave, with their values. */
    uint16_t attributeFields = 0;
    uint16_t mode = 0;
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
    bool link = false;  /* a symbolic or hard link, in an archive with whole trees */
    std::string target; /* a link's */
};

struct ArchiveReading {
    ArchiveFault fault = ArchiveFault::None;
    uint64_t faultOffset = 0; /* stream offset of the read that failed */
    std::string faultEntry;   /* the entry being read at the fault, if any */
    std::string faultReason;  /* the host's reason, when the file failed */
    bool entryFlags = false;  /* the header says that entries carry flags */
    std::string faultTarget;  /* an unsafe link's target */
    bool faultHardLink = false;
    uint64_t entries = 0; /* not counting attributes records */
    uint64_t directories = 0;
    uint64_t files = 0;
    uint64_t links = 0;
    uint64_t bytes = 0; /* in file entries */
};

/* Called for each entry once its header is read, and for each piece of a
   file's data (at most BUFFER_SIZE bytes) as it is read. */
struct ArchiveVisitor {
    std::function<void(const ArchiveEntryInfo &)> entry;
    std::function<void(const ArchiveEntryInfo &, const char *data, size_t length)> data;
};

/* Reads the archive at path from front to back exactly as Velorin's sizing
   pass does (the same pieces, the same checks), in fixed memory, stopping
   at the first fault. */
ArchiveReading ReadArchiveFile(const std::string &path, const ArchiveVisitor &visitor = {});

/* The line Velorin shows for a fault, as it would show it, with the host's
   reason after it. */
std::string DescribeArchiveFault(const ArchiveReading &reading, const std::string &path);

#endif

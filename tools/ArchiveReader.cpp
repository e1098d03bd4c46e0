#include "ArchiveReader.h"

#include <cstring>
#include <memory>
#include <vector>

#include "../archive/EntryName.h"
#include "../platform/text/HostReason.h"
#include "ShownName.h"
#include <text/escape.h>

namespace
{

struct GzCloser {
    void operator()(HostStream *file) const { gzclose(file); }
};

ArchiveReading Stop(ArchiveReading &reading, ArchiveFault fault, uint64_t offset,
                    const std::string &entry = {})
{
    reading.fault = fault;
    reading.faultOffset = offset;
    reading.faultEntry = entry;
    if (const char *reason = TakeHostReason())
        reading.faultReason = reason;
    return reading;
}

} // namespace

ArchiveReading ReadArchiveFile(const std::string &path, const ArchiveVisitor &visitor)
{
    ArchiveReading reading;
    std::unique_ptr<HostStream, GzCloser> stream(gzopen(path.c_str(), "r"));
    if (!stream)
        return Stop(reading, ArchiveFault::CannotOpen, 0);
    ArchiveHeader archiveHeader;
    if (gzread(stream.get(), &archiveHeader, sizeof archiveHeader) != int(sizeof archiveHeader))
        return Stop(reading, ArchiveFault::ShortHeader, 0);
    if (ReadBigEndian16(archiveHeader.version) != ARCHIVE_VERSION)
        return Stop(reading, ArchiveFault::WrongVersion, 0);
    reading.entryFlags = HasEntryFlags(&archiveHeader);

    std::vector<char> buffer(BUFFER_SIZE);
    uint64_t offset = sizeof archiveHeader;
    for (;;) {
        FileHeader entryHeader;
        int count = gzread(stream.get(), &entryHeader, sizeof entryHeader);
        if (count == 0)
            return reading;
        if (count != int(sizeof entryHeader))
            return Stop(reading, ArchiveFault::ShortEntryHeader, offset);
        ArchiveEntryInfo entry;
        entry.size = ReadBigEndian32(entryHeader.size);
        entry.type = ReadBigEndian16(entryHeader.type);
        entry.flags = reading.entryFlags ? ReadBigEndian16(entryHeader.flags) : 0;
        entry.offset = offset;
        /* As Velorin reads them: a directory named "docs/" is docs, and only
           files and directories must have safe names. */
        size_t length = strnlen(entryHeader.name, sizeof entryHeader.name);
        if (entry.type == ENTRY_DIRECTORY && length > 1 && length < sizeof entryHeader.name &&
            entryHeader.name[length - 1] == '/')
            entryHeader.name[--length] = '\0';
        entry.name.assign(entryHeader.name, length);
        bool touchesFiles = entry.type == ENTRY_FILE || entry.type == ENTRY_DIRECTORY;
        if (touchesFiles && !IsSafeEntryName(entryHeader.name, sizeof entryHeader.name))
            return Stop(reading, ArchiveFault::UnsafeName, offset, entry.name);
        offset += sizeof entryHeader;
        reading.entries++;
        if (visitor.entry)
            visitor.entry(entry);
        if (entry.type == ENTRY_DIRECTORY)
            reading.directories++;
        if (entry.type != ENTRY_FILE)
            continue;
        reading.files++;
        for (uint32_t remaining = entry.size; remaining != 0;) {
            unsigned piece = remaining <= BUFFER_SIZE ? remaining : BUFFER_SIZE;
            if (gzread(stream.get(), buffer.data(), piece) != int(piece))
                return Stop(reading, ArchiveFault::ShortData, offset, entry.name);
            if (visitor.data)
                visitor.data(entry, buffer.data(), piece);
            remaining -= piece;
            offset += piece;
            reading.bytes += piece;
        }
    }
}

namespace
{

std::string DescribeFault(const ArchiveReading &reading, const std::string &path)
{
    switch (reading.fault) {
    case ArchiveFault::None:
        return "";
    case ArchiveFault::CannotOpen:
        return "Unable to open archive " + ShowName(path);
    case ArchiveFault::ShortHeader:
        return "Data error while reading archive header";
    case ArchiveFault::WrongVersion:
        return "Wrong archive version for this program";
    case ArchiveFault::ShortEntryHeader:
        return "Error reading archive file header";
    case ArchiveFault::UnsafeName:
    case ArchiveFault::ShortData:
        break;
    }
    /* Velorin shows an unsafe name escaped in full, and other names with
       their control bytes escaped as they reach the screen. */
    if (reading.fault == ArchiveFault::UnsafeName)
        return "Unsafe entry name \"" + ShowName(reading.faultEntry) + "\"";
    std::vector<char> shown(reading.faultEntry.size() * 4 + 1);
    EscapeText(reading.faultEntry.data(), reading.faultEntry.size(), shown.data(), shown.size(),
               KEEP_BACKSLASH);
    return std::string("Error reading ") + shown.data() + " from archive stream";
}

} // namespace

std::string DescribeArchiveFault(const ArchiveReading &reading, const std::string &path)
{
    std::string text = DescribeFault(reading, path);
    if (!reading.faultReason.empty())
        text += ": " + reading.faultReason;
    return text;
}

#include "ArchiveReader.h"

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "../platform/text/EscapedText.h"
#include "../platform/text/HostReason.h"
#include "EntryName.h"
#include "LinkTarget.h"
#include "ShownName.h"

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
    /* Only a fault met by opening or reading has a reason of its own; a
       later one must not take what the last read left, unless that read
       came from a member already known damaged: what it gave may be
       garbage, and the damage is the reason. */
    const char *reason = TakeHostReason();
    bool read = fault == ArchiveFault::CannotOpen || fault == ArchiveFault::ShortHeader ||
                fault == ArchiveFault::ShortEntryHeader || fault == ArchiveFault::ShortData ||
                fault == ArchiveFault::DamagedRecord;
    bool damaged = reason != nullptr && std::strncmp(reason, "invalid compressed data", 23) == 0;
    if (reason != nullptr && (read || damaged))
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
    reading.entryFlags = HasEntryFlags(&archiveHeader);
    uint16_t version = ReadBigEndian16(archiveHeader.version);
    bool largeFiles = version == ARCHIVE_VERSION_LARGE_FILES && reading.entryFlags;
    if (version != ARCHIVE_VERSION && !largeFiles)
        return Stop(reading, ArchiveFault::WrongVersion, 0);

    std::vector<char> buffer(BUFFER_SIZE);
    uint64_t offset = sizeof archiveHeader;
    /* The attributes record waiting for its entry, where it began. */
    bool described = false;
    uint64_t describedOffset = 0;
    ArchiveEntryInfo attributes;
    /* What the links are checked against once all are known. */
    std::set<std::string> linkedFiles, linkNames;
    std::vector<std::pair<std::string, std::string>> links;
    std::vector<uint64_t> linkOffsets;
    for (;;) {
        FileHeader entryHeader;
        int count = gzread(stream.get(), &entryHeader, sizeof entryHeader);
        if (count == 0 && described)
            return Stop(reading, ArchiveFault::DamagedRecord, describedOffset);
        if (count == 0)
            break;
        if (count != int(sizeof entryHeader))
            return Stop(reading, ArchiveFault::ShortEntryHeader, offset);
        ArchiveEntryInfo entry;
        entry.size = ReadBigEndian32(entryHeader.size);
        entry.type = ReadBigEndian16(entryHeader.type);
        entry.flags = reading.entryFlags ? ReadBigEndian16(entryHeader.flags) : 0;
        entry.offset = offset;
        /* 19 bytes of attributes, as Velorin takes them: false when damaged. */
        auto decode = [&](const char *at, uint16_t fields, ArchiveEntryInfo &into) {
            const uint8_t *block = reinterpret_cast<const uint8_t *>(at);
            uint64_t sizeHigh = ReadBigEndian32(block + ATTRIBUTES_SIZE_HIGH_AT);
            into.attributeFields = fields;
            into.mode = ReadBigEndian16(block + ATTRIBUTES_MODE_AT) & 0777;
            into.seconds = int64_t(ReadBigEndian64(block + ATTRIBUTES_SECONDS_AT));
            into.nanoseconds = ReadBigEndian32(block + ATTRIBUTES_NANOSECONDS_AT);
            into.size |= sizeHigh << 32;
            return block[0] == 0 && into.nanoseconds < 1000000000u && (sizeHigh == 0 || largeFiles);
        };
        if (reading.entryFlags && entry.type == ENTRY_ATTRIBUTES) {
            attributes.size = 0;
            if (described || !decode(entryHeader.name, entry.flags, attributes))
                return Stop(reading, ArchiveFault::DamagedRecord, offset);
            described = true;
            describedOffset = offset;
            offset += sizeof entryHeader;
            continue;
        }
        entry.link = reading.entryFlags &&
                     (entry.type == ENTRY_SYMBOLIC_LINK || entry.type == ENTRY_HARD_LINK);
        bool touchesFiles = entry.type == ENTRY_FILE || entry.type == ENTRY_DIRECTORY || entry.link;
        if (described && (!touchesFiles || entry.type == ENTRY_HARD_LINK))
            return Stop(reading, ArchiveFault::DamagedRecord, describedOffset);
        bool recorded = described;
        if (described) {
            entry.attributeFields = attributes.attributeFields;
            entry.mode = attributes.mode;
            entry.seconds = attributes.seconds;
            entry.nanoseconds = attributes.nanoseconds;
            entry.size |= attributes.size;
            described = false;
        }
        size_t length = strnlen(entryHeader.name, sizeof entryHeader.name);
        /* Attributes may close the entry's own name field instead. */
        if (touchesFiles && reading.entryFlags &&
            (entry.flags & (ENTRY_FLAG_MODE | ENTRY_FLAG_TIME))) {
            size_t end = length + 1;
            if (entry.link && end < sizeof entryHeader.name)
                end += strnlen(entryHeader.name + end, sizeof entryHeader.name - end) + 1;
            uint16_t fields = uint16_t(((entry.flags & ENTRY_FLAG_MODE) ? ATTRIBUTE_MODE : 0) |
                                       ((entry.flags & ENTRY_FLAG_TIME) ? ATTRIBUTE_TIME : 0));
            if (recorded || end > ATTRIBUTES_IN_ENTRY_AT || entry.type == ENTRY_HARD_LINK ||
                !decode(entryHeader.name + ATTRIBUTES_IN_ENTRY_AT, fields, entry))
                return Stop(reading, ArchiveFault::DamagedRecord, offset);
        }
        /* As Velorin reads them: a directory named "docs/" is docs, and only
           files, directories and links must have safe names. */
        if (entry.type == ENTRY_DIRECTORY && length > 1 && length < sizeof entryHeader.name &&
            entryHeader.name[length - 1] == '/')
            entryHeader.name[--length] = '\0';
        entry.name.assign(entryHeader.name, length);
        if (touchesFiles && !IsSafeEntryName(entryHeader.name, sizeof entryHeader.name))
            return Stop(reading, ArchiveFault::UnsafeName, offset, entry.name);
        if (entry.link) {
            size_t at = length + 1;
            size_t targetLength = at < sizeof entryHeader.name
                                      ? strnlen(entryHeader.name + at, sizeof entryHeader.name - at)
                                      : 0;
            if (at >= sizeof entryHeader.name || at + targetLength >= sizeof entryHeader.name)
                return Stop(reading, ArchiveFault::DamagedRecord, offset, entry.name);
            entry.target.assign(entryHeader.name + at, targetLength);
            if (entry.type == ENTRY_HARD_LINK &&
                (linkedFiles.count(entry.target) == 0 || entry.target == entry.name)) {
                Stop(reading, ArchiveFault::UnsafeLink, offset, entry.name);
                reading.faultTarget = entry.target;
                reading.faultHardLink = true;
                return reading;
            }
            if (entry.type == ENTRY_SYMBOLIC_LINK) {
                linkNames.insert(entry.name);
                links.emplace_back(entry.name, entry.target);
                linkOffsets.push_back(offset);
            }
        }
        offset += sizeof entryHeader;
        reading.entries++;
        if (visitor.entry)
            visitor.entry(entry);
        if (entry.type == ENTRY_DIRECTORY)
            reading.directories++;
        if (entry.link)
            reading.links++;
        if (entry.type != ENTRY_FILE)
            continue;
        reading.files++;
        if (entry.flags & ENTRY_FLAG_LINKED)
            linkedFiles.insert(entry.name);
        for (uint64_t remaining = entry.size; remaining != 0;) {
            unsigned piece = remaining <= BUFFER_SIZE ? unsigned(remaining) : BUFFER_SIZE;
            if (gzread(stream.get(), buffer.data(), piece) != int(piece))
                return Stop(reading, ArchiveFault::ShortData, offset, entry.name);
            if (visitor.data)
                visitor.data(entry, buffer.data(), piece);
            remaining -= piece;
            offset += piece;
            reading.bytes += piece;
        }
    }
    /* A link's target may pass through no other link of the archive. */
    auto passes = [](const char *directory, void *names) {
        return static_cast<std::set<std::string> *>(names)->count(directory) == 0 ? 1 : 0;
    };
    for (size_t i = 0; i < links.size(); i++) {
        if (!IsSafeLinkTarget(links[i].first.c_str(), links[i].second.c_str(), passes,
                              &linkNames)) {
            Stop(reading, ArchiveFault::UnsafeLink, linkOffsets[i], links[i].first);
            reading.faultTarget = links[i].second;
            return reading;
        }
    }
    return reading;
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
    case ArchiveFault::DamagedRecord:
        return "Error reading archive file header";
    case ArchiveFault::UnsafeLink:
        return std::string("Unsafe ") + (reading.faultHardLink ? "hard" : "symbolic") + " link " +
               ShowName(reading.faultEntry) + " -> " + ShowName(reading.faultTarget);
    case ArchiveFault::UnsafeName:
    case ArchiveFault::ShortData:
        break;
    }
    /* Velorin shows an unsafe name escaped in full, and other names with
       their control bytes escaped as they reach the screen. */
    if (reading.fault == ArchiveFault::UnsafeName)
        return "Unsafe entry name \"" + ShowName(reading.faultEntry) + "\"";
    return "Error reading " + EscapedText(reading.faultEntry) + " from archive stream";
}

} // namespace

std::string DescribeArchiveFault(const ArchiveReading &reading, const std::string &path)
{
    std::string text = DescribeFault(reading, path);
    if (!reading.faultReason.empty())
        text += ": " + reading.faultReason;
    return text;
}

#include "ArchiveWriter.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "../format/BlockLayout.h"
#include "BlockCompressor.h"

ArchiveHeader EncodeArchiveHeader(bool entryFlags, bool largeFiles)
{
    ArchiveHeader header = {};
    WriteBigEndian16(header.version, largeFiles ? ARCHIVE_VERSION_LARGE_FILES : ARCHIVE_VERSION);
    if (entryFlags)
        std::memcpy(header.signature, ENTRY_FLAGS_SIGNATURE, sizeof header.signature);
    return header;
}

FileHeader EncodeFileHeader(const std::string &name, uint32_t size, uint16_t type, uint16_t flags)
{
    FileHeader entry = {};
    std::memcpy(entry.name, name.data(), std::min(name.size(), sizeof entry.name));
    WriteBigEndian32(entry.size, size);
    WriteBigEndian16(entry.type, type);
    WriteBigEndian16(entry.flags, flags);
    return entry;
}

namespace
{

void WriteAttributeBlock(uint8_t *block, const EntryAttributeValues &values)
{
    block[0] = 0;
    WriteBigEndian16(block + ATTRIBUTES_MODE_AT, values.mode & 0777);
    WriteBigEndian64(block + ATTRIBUTES_SECONDS_AT, uint64_t(values.seconds));
    WriteBigEndian32(block + ATTRIBUTES_NANOSECONDS_AT, values.nanoseconds);
    WriteBigEndian32(block + ATTRIBUTES_SIZE_HIGH_AT, uint32_t(values.size >> 32));
}

} // namespace

FileHeader EncodeAttributes(const EntryAttributeValues &values)
{
    FileHeader record = {};
    WriteAttributeBlock(reinterpret_cast<uint8_t *>(record.name), values);
    WriteBigEndian16(record.type, ENTRY_ATTRIBUTES);
    WriteBigEndian16(record.flags, values.fields);
    return record;
}

bool PutAttributesInEntry(FileHeader &entry, const EntryAttributeValues &values)
{
    /* The name, and a link's target after it, must end before the block. */
    size_t end = strnlen(entry.name, sizeof entry.name) + 1;
    uint16_t type = ReadBigEndian16(entry.type);
    if ((type == ENTRY_SYMBOLIC_LINK || type == ENTRY_HARD_LINK) && end < sizeof entry.name)
        end += strnlen(entry.name + end, sizeof entry.name - end) + 1;
    if (end > ATTRIBUTES_IN_ENTRY_AT)
        return false;
    WriteAttributeBlock(reinterpret_cast<uint8_t *>(entry.name) + ATTRIBUTES_IN_ENTRY_AT, values);
    uint16_t flags = ReadBigEndian16(entry.flags);
    flags |= (values.fields & ATTRIBUTE_MODE) ? ENTRY_FLAG_MODE : 0;
    flags |= (values.fields & ATTRIBUTE_TIME) ? ENTRY_FLAG_TIME : 0;
    WriteBigEndian16(entry.flags, flags);
    return true;
}

FileHeader EncodeLink(const std::string &name, const std::string &target, uint16_t type)
{
    FileHeader record = EncodeFileHeader(name, 0, type);
    size_t at = std::min(name.size() + 1, sizeof record.name);
    std::memcpy(record.name + at, target.data(),
                std::min(target.size(), sizeof record.name - at - (at < sizeof record.name)));
    return record;
}

namespace
{

/* Bare streams are written in pieces of this size. */
constexpr size_t PLAIN_PIECE = 128 * 1024;
/* More threads than this add memory (two blocks each) and little speed. */
constexpr unsigned MOST_THREADS = 32;

/* libdeflate's levels 1 to 6 compress real trees several times faster than
   zlib's of the same numbers, to about the same size; above them it slows
   down steeply, so 7 to 9 spread over its slower levels, 9 giving the
   smallest archive it makes. */
int DeflateLevel(int level)
{
    static const int levels[] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 12};
    return levels[level];
}

unsigned CoresAvailable()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::clamp(unsigned(CPU_COUNT(&set)), 1u, MOST_THREADS);
}

} // namespace

ArchiveWriter::ArchiveWriter() = default;

ArchiveWriter::~ArchiveWriter()
{
    compressor_.reset();
    if (ownDescriptor_)
        close(descriptor_);
}

bool ArchiveWriter::Fail(const std::string &what)
{
    if (error_.empty())
        error_ = what;
    return false;
}

bool ArchiveWriter::FailWriting()
{
    return Fail("cannot write " + path_ + ": " + std::strerror(errno));
}

bool ArchiveWriter::Open(const std::string &path, int level)
{
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        path_ = path;
        return Fail("cannot create " + path + ": " + std::strerror(errno));
    }
    bool opened = Open(descriptor, path, level);
    ownDescriptor_ = true;
    return opened;
}

bool ArchiveWriter::Open(int descriptor, const std::string &shownPath, int level)
{
    path_ = shownPath;
    descriptor_ = descriptor;
    /* A file size limit (ulimit -f) then fails the write with EFBIG, which is
       reported with the file's name, instead of ending the process and
       leaving a partial archive behind. */
    std::signal(SIGXFSZ, SIG_IGN);
    if (level == PLAIN_STREAM) {
        plainStream_ = true;
        plain_.reserve(PLAIN_PIECE);
        return true;
    }
    if (level < 0 || level > 9)
        return Fail("compression level " + std::to_string(level) + " is not 0 to 9");
    compressor_ = std::make_unique<BlockCompressor>(DeflateLevel(level),
                                                    threads_ != 0 ? threads_ : CoresAvailable());
    if (!compressor_->Ready())
        return Fail("cannot write " + shownPath + ": out of memory for compression");
    return true;
}

bool ArchiveWriter::WriteOut(const unsigned char *data, size_t length)
{
    while (length > 0) {
        ssize_t written = write(descriptor_, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return FailWriting();
        data += written;
        length -= size_t(written);
    }
    return true;
}

bool ArchiveWriter::WriteOldestMember()
{
    const std::vector<unsigned char> &member = compressor_->WaitOldest();
    if (member.empty())
        return Fail("cannot write " + path_ + ": a block could not be compressed");
    bool written = WriteOut(member.data(), member.size());
    compressor_->TakeOldest();
    members_++;
    return written;
}

bool ArchiveWriter::SubmitBlock()
{
    compressor_->Submit();
    while (compressor_->Full()) {
        if (!WriteOldestMember())
            return false;
    }
    return true;
}

bool ArchiveWriter::WriteBytes(const void *data, size_t length)
{
    if (!error_.empty())
        return false;
    if (compressor_ == nullptr && !plainStream_)
        return Fail("cannot write " + path_ + ": not open");
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    /* Large pieces of a bare stream go straight out; small ones are gathered. */
    if (plainStream_ && plain_.size() + length > PLAIN_PIECE) {
        if (!WriteOut(plain_.data(), plain_.size()))
            return false;
        plain_.clear();
        if (length >= PLAIN_PIECE)
            return WriteOut(bytes, length);
    }
    if (plainStream_) {
        plain_.insert(plain_.end(), bytes, bytes + length);
        return true;
    }
    while (length > 0) {
        std::vector<unsigned char> &block = compressor_->Input();
        size_t taken = std::min(length, size_t(BLOCK_INPUT_LIMIT) - block.size());
        block.insert(block.end(), bytes, bytes + taken);
        bytes += taken;
        length -= taken;
        if (block.size() == BLOCK_INPUT_LIMIT && !SubmitBlock())
            return false;
    }
    return true;
}

bool ArchiveWriter::WriteEntryHeader(const std::string &name, uint32_t size, uint16_t type,
                                     uint16_t flags)
{
    FileHeader entry = EncodeFileHeader(name, size, type, flags);
    return WriteBytes(&entry, sizeof entry);
}

bool ArchiveWriter::Close()
{
    bool ok = error_.empty();
    if (ok && plainStream_)
        ok = WriteOut(plain_.data(), plain_.size());
    if (ok && compressor_ != nullptr) {
        /* The last, partly filled block; an empty stream still becomes one
           (empty) member, so that the file is a gzip file. */
        if (!compressor_->Input().empty() || (members_ == 0 && !compressor_->Pending()))
            compressor_->Submit();
        while (ok && compressor_->Pending())
            ok = WriteOldestMember();
    }
    compressor_.reset();
    plain_.clear();
    plainStream_ = false;
    if (ownDescriptor_) {
        ownDescriptor_ = false;
        if (close(descriptor_) != 0 && ok)
            ok = FailWriting();
    }
    descriptor_ = -1;
    return ok && error_.empty();
}

#include "ArchiveWriter.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

ArchiveHeader EncodeArchiveHeader(bool entryFlags)
{
    ArchiveHeader header = {};
    WriteBigEndian16(header.version, ARCHIVE_VERSION);
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

ArchiveWriter::~ArchiveWriter()
{
    if (compressed_ != nullptr)
        gzclose(compressed_);
    if (plain_ != nullptr)
        std::fclose(plain_);
}

bool ArchiveWriter::Fail(const std::string &what)
{
    if (error_.empty())
        error_ = what;
    return false;
}

bool ArchiveWriter::Open(const std::string &path, int level)
{
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        path_ = path;
        return Fail("cannot create " + path + ": " + std::strerror(errno));
    }
    bool opened = Open(descriptor, path, level);
    close(descriptor);
    return opened;
}

bool ArchiveWriter::Open(int descriptor, const std::string &shownPath, int level)
{
    path_ = shownPath;
    /* The streams close what they write to: they get a copy of the descriptor. */
    int own = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return Fail("cannot write " + shownPath + ": " + std::strerror(errno));
    if (level == PLAIN_STREAM) {
        plain_ = fdopen(own, "wb");
        if (plain_ == nullptr) {
            close(own);
            return Fail("cannot write " + shownPath + ": " + std::strerror(errno));
        }
        return true;
    }
    std::string mode = "wb" + std::to_string(level);
    compressed_ = gzdopen(own, mode.c_str());
    if (compressed_ == nullptr) {
        close(own);
        return Fail("cannot write " + shownPath + ": " + std::strerror(errno));
    }
    /* Larger buffers than zlib's default cut the number of system calls. */
    gzbuffer(compressed_, 128 * 1024);
    return true;
}

bool ArchiveWriter::WriteBytes(const void *data, size_t length)
{
    if (length == 0)
        return true;
    if (plain_ != nullptr) {
        if (std::fwrite(data, length, 1, plain_) != 1)
            return Fail("cannot write " + path_ + ": " + std::strerror(errno));
        return true;
    }
    const char *bytes = static_cast<const char *>(data);
    while (length > 0) {
        unsigned chunk = length > (1u << 30) ? (1u << 30) : unsigned(length);
        if (gzwrite(compressed_, bytes, chunk) != int(chunk)) {
            int code = Z_OK;
            const char *message = gzerror(compressed_, &code);
            return Fail("cannot write " + path_ + ": " +
                        (code == Z_ERRNO ? std::strerror(errno) : message));
        }
        bytes += chunk;
        length -= chunk;
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
    if (plain_ != nullptr) {
        if (std::fclose(plain_) != 0)
            ok = Fail("cannot write " + path_ + ": " + std::strerror(errno));
        plain_ = nullptr;
    }
    if (compressed_ != nullptr) {
        if (gzclose(compressed_) != Z_OK)
            ok = Fail("cannot write " + path_ + ": " + std::strerror(errno));
        compressed_ = nullptr;
    }
    return ok;
}

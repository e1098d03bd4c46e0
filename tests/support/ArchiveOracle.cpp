#include "ArchiveOracle.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <zlib.h>

namespace
{

constexpr size_t ARCHIVE_HEADER = 8;
constexpr size_t ENTRY_HEADER = 264;
constexpr size_t NAME_FIELD = 256;
constexpr size_t PIECE = 65535;

uint32_t BigEndian(const std::string &bytes, size_t at, size_t length)
{
    uint32_t value = 0;
    for (size_t i = 0; i < length; i++)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

/* The rule for names joined to the destination, for files and directories
   only: a NUL within the field, not empty, no leading '/' and no empty,
   "." or ".." component; a directory may end in one '/'. */
bool IsSafeName(const std::string &field, uint16_t type)
{
    if (type != 0 && type != 1)
        return true;
    size_t nul = field.find('\0');
    if (nul == std::string::npos)
        return false;
    std::string name = field.substr(0, nul);
    if (type == 1 && name.size() > 1 && name.back() == '/')
        name.pop_back();
    if (name.empty() || name[0] == '/')
        return false;
    size_t start = 0;
    for (;;) {
        size_t slash = name.find('/', start);
        std::string component =
            name.substr(start, slash == std::string::npos ? slash : slash - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

} // namespace

InflatedFile InflateArchiveFile(const std::string &file)
{
    InflatedFile result;
    auto isMember = [&](size_t at) {
        return file.size() - at >= 2 && uint8_t(file[at]) == 0x1f && uint8_t(file[at + 1]) == 0x8b;
    };
    if (!isMember(0)) {
        result.stream = file;
        return result;
    }
    size_t at = 0;
    while (at < file.size() && isMember(at)) {
        z_stream member{};
        if (inflateInit2(&member, 15 + 16) != Z_OK)
            throw std::runtime_error("inflateInit2 failed");
        member.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(file.data() + at));
        member.avail_in = uInt(file.size() - at);
        int status;
        do {
            char out[65536];
            member.next_out = reinterpret_cast<Bytef *>(out);
            member.avail_out = sizeof out;
            status = inflate(&member, Z_NO_FLUSH);
            result.stream.append(out, sizeof out - member.avail_out);
        } while (status == Z_OK);
        at = file.size() - member.avail_in;
        /* Anything but a member's end is damage or a member broken off. */
        if (status != Z_STREAM_END) {
            result.sound = false;
            std::string message = member.msg != nullptr ? member.msg : "";
            result.exact = status == Z_BUF_ERROR || message == "incorrect data check" ||
                           message == "incorrect length check";
        }
        inflateEnd(&member);
        if (!result.sound)
            return result;
    }
    /* After the last member only zero bytes (a device's padding) may come:
       anything else is damage, met right after the member's data. */
    if (file.find_first_not_of('\0', at) != std::string::npos)
        result.sound = false;
    return result;
}

OracleReading ReadArchiveOracle(const std::string &path)
{
    std::ifstream input(path, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot open " + path);
    InflatedFile inflated =
        InflateArchiveFile(std::string(std::istreambuf_iterator<char>(input), {}));
    const std::string &stream = inflated.stream;

    OracleReading reading;
    reading.exact = inflated.exact;
    auto stop = [&](OracleFault fault, uint64_t offset, const std::string &entry = {}) {
        reading.fault = fault;
        reading.faultOffset = offset;
        reading.faultEntry = entry;
        return reading;
    };
    /* Whether a read of length bytes at offset gets them all. */
    auto has = [&](size_t offset, size_t length) { return stream.size() - offset >= length; };

    if (stream.size() < ARCHIVE_HEADER)
        return stop(OracleFault::ShortHeader, 0);
    if (BigEndian(stream, 0, 2) != 1)
        return stop(OracleFault::WrongVersion, 0);
    for (size_t offset = ARCHIVE_HEADER;;) {
        /* No byte left ends the archive, unless the stream was damaged. */
        if (offset == stream.size() && inflated.sound)
            return reading;
        if (!has(offset, ENTRY_HEADER))
            return stop(OracleFault::ShortEntryHeader, offset);
        OracleEntry entry;
        std::string field = stream.substr(offset, NAME_FIELD);
        entry.name = field.substr(0, field.find('\0'));
        entry.size = BigEndian(stream, offset + NAME_FIELD, 4);
        entry.type = uint16_t(BigEndian(stream, offset + NAME_FIELD + 4, 2));
        /* A directory named "docs/" is the directory docs. */
        if (entry.type == 1 && entry.name.size() > 1 && entry.name.back() == '/')
            entry.name.pop_back();
        if (!IsSafeName(field, entry.type))
            return stop(OracleFault::UnsafeName, offset, entry.name);
        offset += ENTRY_HEADER;
        if (entry.type == 0) {
            for (uint32_t remaining = entry.size; remaining != 0;) {
                size_t piece = remaining < PIECE ? remaining : PIECE;
                if (!has(offset, piece))
                    return stop(OracleFault::ShortData, offset, entry.name);
                entry.data.append(stream, offset, piece);
                offset += piece;
                remaining -= uint32_t(piece);
            }
        }
        reading.entries.push_back(std::move(entry));
    }
}

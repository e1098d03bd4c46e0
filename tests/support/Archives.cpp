#include "Archives.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <zlib.h>

#include "../../tools/ArchiveWriter.h"

StreamBuilder::StreamBuilder()
{
    ArchiveHeader header = EncodeArchiveHeader();
    bytes_.assign(reinterpret_cast<const char *>(&header), sizeof header);
    boundaries_.push_back(bytes_.size());
}

StreamBuilder &StreamBuilder::Entry(const std::string &name, uint32_t size, uint16_t type)
{
    FileHeader entry = EncodeFileHeader(name, size, type);
    return Raw(std::string(reinterpret_cast<const char *>(&entry), sizeof entry));
}

StreamBuilder &StreamBuilder::Directory(const std::string &name)
{
    Entry(name, 0, ENTRY_DIRECTORY);
    boundaries_.push_back(bytes_.size());
    return *this;
}

StreamBuilder &StreamBuilder::File(const std::string &name, const std::string &data)
{
    Entry(name, uint32_t(data.size()), ENTRY_FILE);
    bytes_ += data;
    boundaries_.push_back(bytes_.size());
    return *this;
}

StreamBuilder &StreamBuilder::Raw(const std::string &bytes)
{
    bytes_ += bytes;
    return *this;
}

void WriteArchive(const std::string &path, const std::string &stream, int level)
{
    ArchiveWriter writer;
    if (!writer.Open(path, level) || !writer.WriteBytes(stream.data(), stream.size()) ||
        !writer.Close())
        throw std::runtime_error(writer.Error());
}

namespace
{

/* Compresses input raw, with the given flush; the bytes out. */
std::string Deflate(z_stream &stream, const std::string &input, int flush)
{
    std::string output;
    char piece[65536];
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.data()));
    stream.avail_in = uInt(input.size());
    do {
        stream.next_out = reinterpret_cast<Bytef *>(piece);
        stream.avail_out = sizeof piece;
        if (deflate(&stream, flush) == Z_STREAM_ERROR)
            throw std::runtime_error("deflate failed");
        output.append(piece, sizeof piece - stream.avail_out);
    } while (stream.avail_out == 0);
    return output;
}

void AppendLittleEndian32(std::string &bytes, uLong value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(char(value >> shift & 0xFF));
}

} // namespace

void WriteArchiveOfZeros(const std::string &path, const std::string &name, uint32_t size)
{
    /* After a full flush the compressor starts afresh, so every mebibyte of
       zeros compresses to the same bytes: one is compressed and repeated,
       and the checksum of the whole is combined from that of one. */
    const std::string prefix = StreamBuilder().Entry(name, size, ENTRY_FILE).Bytes();
    const std::string mebibyte(1 << 20, '\0');
    z_stream stream = {};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string file("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    file += Deflate(stream, prefix, Z_FULL_FLUSH);
    const std::string repeated = Deflate(stream, mebibyte, Z_FULL_FLUSH);
    const std::string rest = mebibyte.substr(0, size % mebibyte.size());
    uLong check = crc32(0, reinterpret_cast<const Bytef *>(prefix.data()), uInt(prefix.size()));
    const uLong mebibyteCheck =
        crc32(0, reinterpret_cast<const Bytef *>(mebibyte.data()), uInt(mebibyte.size()));
    file.reserve(file.size() + repeated.size() * (size / mebibyte.size() + 1));
    for (uint32_t i = 0; i < size / mebibyte.size(); i++) {
        file += repeated;
        check = crc32_combine(check, mebibyteCheck, z_off_t(mebibyte.size()));
    }
    file += Deflate(stream, rest, Z_FINISH);
    deflateEnd(&stream);
    check = crc32(check, reinterpret_cast<const Bytef *>(rest.data()), uInt(rest.size()));
    AppendLittleEndian32(file, check);
    AppendLittleEndian32(file, uLong(prefix.size()) + size);
    FILE *output = std::fopen(path.c_str(), "wb");
    bool written = output != nullptr && std::fwrite(file.data(), file.size(), 1, output) == 1;
    if (output == nullptr || std::fclose(output) != 0 || !written)
        throw std::runtime_error("cannot write " + path);
}

std::string MakeBlockMember(const std::string &data, int level, uint32_t sizeHint)
{
    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string deflated = Deflate(stream, data, Z_FINISH);
    deflateEnd(&stream);
    std::string member("\x1f\x8b\x08\x04\0\0\0\0\0\x03\x08\0VB\x04\0", 16);
    AppendLittleEndian32(member, sizeHint != 0 ? sizeHint : uLong(20 + deflated.size() + 8));
    member += deflated;
    AppendLittleEndian32(member,
                         crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
    AppendLittleEndian32(member, uLong(data.size()));
    return member;
}

std::string MakeBlockFile(const std::string &stream, size_t blockInput, int level)
{
    std::string file;
    size_t at = 0;
    do {
        file += MakeBlockMember(stream.substr(at, blockInput), level);
        at += blockInput;
    } while (at < stream.size());
    return file;
}

std::vector<std::string> ListArchiveNames(const std::string &path)
{
    gzFile file = gzopen(path.c_str(), "r");
    if (file == nullptr)
        throw std::runtime_error("cannot open " + path);
    std::vector<std::string> names;
    ArchiveHeader header;
    FileHeader entry;
    if (gzread(file, &header, sizeof header) != int(sizeof header))
        throw std::runtime_error("no header in " + path);
    /* Files of 4 GiB or more take the high bits of their size from the
       attributes record before them. */
    uint64_t sizeHigh = 0;
    while (gzread(file, &entry, sizeof entry) == int(sizeof entry)) {
        uint16_t type = ReadBigEndian16(entry.type);
        if (HasEntryFlags(&header) && type == ENTRY_ATTRIBUTES) {
            sizeHigh = ReadBigEndian32(reinterpret_cast<const uint8_t *>(entry.name) +
                                       ATTRIBUTES_SIZE_HIGH_AT);
            continue;
        }
        names.emplace_back(entry.name, strnlen(entry.name, sizeof entry.name));
        if (type == ENTRY_FILE)
            gzseek(file, z_off_t(ReadBigEndian32(entry.size) | sizeHigh << 32), SEEK_CUR);
        sizeHigh = 0;
    }
    gzclose(file);
    return names;
}

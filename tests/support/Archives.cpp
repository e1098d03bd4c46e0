#include "Archives.h"

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
    while (gzread(file, &entry, sizeof entry) == int(sizeof entry)) {
        names.emplace_back(entry.name, strnlen(entry.name, sizeof entry.name));
        if (ReadBigEndian16(entry.type) == ENTRY_FILE)
            gzseek(file, ReadBigEndian32(entry.size), SEEK_CUR);
    }
    gzclose(file);
    return names;
}

#include "Files.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

void WriteFile(const std::string &path, const std::string &content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), std::streamsize(content.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

TreeSnapshot SnapshotTree(const std::string &root)
{
    TreeSnapshot snapshot;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root)) {
        std::string name = entry.path().lexically_relative(root).native();
        if (entry.is_symlink())
            snapshot[name] = "link:" + fs::read_symlink(entry.path()).native();
        else if (entry.is_directory())
            snapshot[name] = "dir";
        else if (!entry.is_regular_file())
            snapshot[name] = "other";
        else
            snapshot[name] = "file:" + ReadFile(entry.path());
    }
    return snapshot;
}

std::string MakeData(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; i++) {
        state = state * 1103515245u + 12345u;
        data[i] = char(state >> 16);
    }
    return data;
}

bool Exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::vector<std::string> NamesIn(const std::string &path)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

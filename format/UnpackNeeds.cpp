#include "UnpackNeeds.h"

#include "ShownName.h"

bool UnpackNeeds::Add(const ArchiveEntryInfo &entry, std::string &conflict)
{
    /* A link takes its name as a file does. */
    bool isFile = entry.type == ENTRY_FILE || entry.link;
    if (!isFile && entry.type != ENTRY_DIRECTORY)
        return true;
    const std::string &name = entry.name;
    /* The nearest enclosing directory that is known; those between it and
       the entry are needed in the destination, the deepest standing for
       the rest. */
    bool deepest = true;
    for (size_t slash = name.rfind('/'); slash != std::string::npos && slash > 0;
         slash = name.rfind('/', slash - 1)) {
        std::string directory = name.substr(0, slash);
        auto known = names_.find(directory);
        if (known != names_.end()) {
            if (known->second == Kind::File) {
                conflict = ShowName(name) + " lies in " + ShowName(directory) +
                           ", which is a file earlier in the archive";
                return false;
            }
            break;
        }
        names_.emplace(directory, Kind::NeededDirectory);
        if (deepest)
            needed_.push_back(directory);
        deepest = false;
    }
    auto [known, added] = names_.emplace(name, isFile ? Kind::File : Kind::Directory);
    if (added)
        return true;
    bool wasFile = known->second == Kind::File;
    if (wasFile == isFile)
        return true;
    conflict =
        ShowName(name) +
        (wasFile ? " is a file earlier in the archive, so it cannot be unpacked as a directory"
                 : " is a directory earlier in the archive, so it cannot be unpacked as a file");
    return false;
}

#ifndef FORMAT_UNPACK_NEEDS_H
#define FORMAT_UNPACK_NEEDS_H

#include <string>
#include <unordered_map>
#include <vector>

#include "ArchiveReader.h"

/* What unpacking an archive needs from its destination, learnt entry by
   entry in the archive's order. Velorin creates each entry where its name
   says, in that order, and creates no directory that the archive does not
   hold: an entry whose directory comes later or never needs that directory
   in the destination already, and a name used both as a file and as a
   directory cannot be unpacked at all. Keeps every file and directory name
   of the archive, so its memory grows with the number of entries (about a
   hundred bytes each). */
class UnpackNeeds
{
  public:
    /* False, with why, when the entry cannot be unpacked after those
       before it. A link counts as a file; other entries touch nothing. */
    bool Add(const ArchiveEntryInfo &entry, std::string &conflict);
    /* The directories that must exist in the destination, each named once,
       in the order they are first needed. */
    const std::vector<std::string> &Needed() const { return needed_; }

  private:
    enum class Kind { File, Directory, NeededDirectory };
    std::unordered_map<std::string, Kind> names_;
    std::vector<std::string> needed_;
};

#endif

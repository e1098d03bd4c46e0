#ifndef TOOLS_PACK_TREE_H
#define TOOLS_PACK_TREE_H

#include <cstdint>
#include <functional>
#include <string>

struct PackSummary {
    uint64_t directories = 0;
    uint64_t files = 0;
    uint64_t bytes = 0;
    uint64_t skipped = 0;
};

/* Packs the tree below sourceDir into an archive at archivePath: each
   directory before its contents, siblings in byte order of their names.
   Symbolic links and special files are skipped with a warning. A name that
   Velorin would refuse, or one longer than 255 bytes, or a file larger than
   4,294,967,295 bytes, fails the whole run; the archive is then not
   written (it is built under a temporary name and renamed when complete). */
bool PackTree(const std::string &sourceDir, const std::string &archivePath, int level,
              const std::function<void(const std::string &)> &warn, PackSummary &summary,
              std::string &error);

#endif

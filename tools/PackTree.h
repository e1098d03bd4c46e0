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

/* How far packing has got, against the tree's totals as counted before. */
struct PackProgress {
    uint64_t files = 0;
    uint64_t bytes = 0;
    uint64_t totalFiles = 0;
    uint64_t totalBytes = 0;
};

struct PackReporting {
    std::function<void(const std::string &)> warn;
    /* Called as the data go into the archive; when set, the tree is walked
       once beforehand to count what lies ahead. */
    std::function<void(const PackProgress &)> progress;
};

/* Packs the tree below sourceDir into an archive at archivePath: each
   directory before its contents, siblings in byte order of their names,
   files that their owner may execute flagged as programs. Symbolic links,
   special files and the archive itself (the file being replaced and the one
   being written) are skipped with a warning. A name that Velorin would
   refuse, or one longer than 255 bytes, or a file larger than 4,294,967,295
   bytes, fails the whole run; the archive is then not written (it is built
   under a temporary name, removed on failure or when a signal ends the
   program, and renamed when complete). */
bool PackTree(const std::string &sourceDir, const std::string &archivePath, int level,
              const PackReporting &reporting, PackSummary &summary, std::string &error);

#endif

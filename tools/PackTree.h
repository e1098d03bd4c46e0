#ifndef TOOLS_PACK_TREE_H
#define TOOLS_PACK_TREE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SecretKey;

struct PackSettings {
    int level = 6;
    /* Leave out what an archive cannot hold, instead of refusing to pack. */
    bool skipUnstorable = false;
    /* Shell patterns matched against the whole path below the source
       directory, '*' matching '/' too; a directory that one matches is left
       out with everything in it. */
    std::vector<std::string> excludes;
    /* Signs what is written with this minisign key: a plain archive gets
       a signature file beside it, an installer carries its signature. */
    const SecretKey *signingKey = nullptr;
};

struct PackSummary {
    uint64_t directories = 0;
    uint64_t files = 0;
    uint64_t bytes = 0;
    uint64_t links = 0;
    uint64_t skipped = 0;
    /* Files of 4 GiB or more, which only this version of Velorin and
       later ones unpack. */
    bool largeFiles = false;
};

/* How far packing has got, against the tree's totals as counted before. */
struct PackProgress {
    uint64_t files = 0;
    uint64_t bytes = 0;
    uint64_t totalFiles = 0;
    uint64_t totalBytes = 0;
    /* The archive's size so far. */
    uint64_t archiveBytes = 0;
};

struct PackReporting {
    std::function<void(const std::string &)> warn;
    /* Called as the data go into the archive. */
    std::function<void(const PackProgress &)> progress;
};

/* Packs the tree below sourceDir into an archive at archivePath: each
   directory before its contents, siblings in byte order of their names,
   files that their owner may execute flagged as programs, every entry with
   its mode and modification time, symbolic links as links and a file's
   further names as hard links to its first. Special files, the archive
   being replaced and symbolic links that Velorin would refuse (a target
   that leads out of the tree or through another link of it, a name and
   target of more than 254 bytes together) are skipped with a warning. The
   tree is walked once before anything is compressed: every name that an
   archive cannot hold (one Velorin would refuse or longer than 255 bytes)
   is found then, and either
   all of them are reported together and nothing is written, or, with
   skipUnstorable, each is left out with a warning. Types and sizes are
   learnt without opening anything but directories and the regular files
   being read, so a FIFO never blocks the run. The archive appears under its
   name only when complete (OutputFile.h); after a failure nothing is left
   behind. */
bool PackTree(const std::string &sourceDir, const std::string &archivePath,
              const PackSettings &settings, const PackReporting &reporting, PackSummary &summary,
              std::string &error);

/* Packs the tree as PackTree does, into descriptor from its current
   position; shownPath names the file in errors. The descriptor stays open,
   and what was written stays on failure: the caller owns the file. */
bool PackTreeInto(const std::string &sourceDir, int descriptor, const std::string &shownPath,
                  const PackSettings &settings, const PackReporting &reporting,
                  PackSummary &summary, std::string &error);

#endif

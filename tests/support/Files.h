#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>

void WriteFile(const std::string &path, const std::string &content);
std::string ReadFile(const std::string &path);
/* Whether the name leads to anything (a link is followed). */
bool Exists(const std::string &path);
/* The names in a directory, sorted. */
std::vector<std::string> NamesIn(const std::string &path);

/* Everything below root, by relative path: "dir" for a directory,
   "file:" and the content for a file, "link:" and the target for a
   symbolic link, "other" for a FIFO, device or socket. Two equal snapshots mean nothing was
   created, removed or changed. */
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot SnapshotTree(const std::string &root);

/* Bytes that look like file data and do not compress to nothing. */
std::string MakeData(size_t size, unsigned seed);

/* The process's umask for the duration of a test; the programs started
   inherit it. */
class UmaskScope
{
  public:
    explicit UmaskScope(mode_t mask) : previous_(umask(mask)) {}
    ~UmaskScope() { umask(previous_); }

  private:
    mode_t previous_;
};

#endif

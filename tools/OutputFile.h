#ifndef TOOLS_OUTPUT_FILE_H
#define TOOLS_OUTPUT_FILE_H

#include <string>

#include <sys/types.h>

/* A file that appears under its name only when it is complete. It is
   written under a name nobody can predict, created exclusively (never
   through a link, never into a file that was there) in the directory of its
   final name, and renamed over that name at the end: a reader never sees it
   half-written, and of two programs writing the same name the last to
   finish wins with its whole file. Until then it is removed when it is
   abandoned, when the object goes, or when SIGINT, SIGTERM or SIGHUP ends
   the program. */
class OutputFile
{
  public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { Abandon(); }

    /* Creates the file for path with mode (under the umask, as any new
       file). Refuses a path that names a directory. */
    bool Create(const std::string &path, mode_t mode, std::string &error);
    /* Open for reading and writing from Create to Commit or Abandon. */
    int Descriptor() const { return descriptor_; }
    /* Closes the file and gives it its name; false, with the file removed,
       when either fails. */
    bool Commit(std::string &error);
    void Abandon();

  private:
    /* The directory that holds both names, held so that the file is
       created, renamed and removed in one place whatever happens to the
       directory's own name meanwhile. */
    int directory_ = -1;
    int descriptor_ = -1;
    std::string name_;
    std::string temporary_;
    std::string shownPath_;
    /* Its place among the files removed on a signal. */
    int removalSlot_ = -1;
};

#endif

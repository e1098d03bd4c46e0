#ifndef TESTS_SUPPORT_PIPED_ARCHIVE_H
#define TESTS_SUPPORT_PIPED_ARCHIVE_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <sys/types.h>

/* An archive that velorin reads from a named pipe. Velorin opens its archive
   twice, once per pass; it waits at the first opening until Feed is called,
   which gives a test a fixed moment, with the window open and nothing read
   yet, to press buttons. Feed then hands each of the two openings the whole
   file from a thread of its own, so that velorin may stop reading at any
   point (an abort, a request) without holding the test up. */
class PipedArchive {
public:
    /* Makes the pipe at path; file is the archive file's bytes. With holdAt,
       the first opening gets only that many bytes until Release: the reader
       then waits in the middle of its read, as on a slow disk. */
    PipedArchive(const std::string &path, std::string file, size_t holdAt = 0);
    PipedArchive(const PipedArchive &) = delete;
    PipedArchive &operator=(const PipedArchive &) = delete;
    ~PipedArchive();

    /* Starts handing the file to the reader's two openings. */
    void Feed(pid_t reader);
    /* Hands over the rest of a held first opening. */
    void Release();

private:
    void FeedOpenings(pid_t reader);

    std::string path_;
    std::string file_;
    size_t holdAt_;
    std::thread feeder_;
    std::mutex lock_;
    std::condition_variable released_;
    bool isReleased_ = false;
};

#endif

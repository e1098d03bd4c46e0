#ifndef TESTS_SUPPORT_HELD_FILE_H
#define TESTS_SUPPORT_HELD_FILE_H

#include <string>

/* A file that velorin cannot open until the test lets it.
   - AgainstReading: the test holds a lease on the file, and an opening
     that breaks the lease waits for it to be given up, as it would for a
     file server's (the system ends the wait after
     /proc/sys/fs/lease-break-time seconds, 45 by default). An archive,
     which velorin opens after its window, gives a test a fixed moment with
     the window open and nothing read yet.
   - AgainstWriting: the test watches the file's directory for openings
     that need its permission (fanotify, which needs root), and holds the
     opening of the file of that name that velorin creates in its writing
     pass after showing its name: one long call with the window up. */
class HeldFile
{
  public:
    enum Hold { AgainstReading, AgainstWriting };

    /* Writes content to path and takes the hold. */
    HeldFile(const std::string &path, const std::string &content, Hold hold);
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;
    ~HeldFile();

    /* Waits until an opening waits on the hold; whether one did within
       timeoutSeconds. */
    bool WaitUntilWanted(int timeoutSeconds = 60);
    /* Gives the hold up: a waiting opening goes on, later ones do not wait. */
    void Release();
    /* AgainstWriting: the waiting opening fails (EPERM); later ones do
       not wait. */
    void Refuse();

  private:
    bool WaitForOpening(int timeoutSeconds);
    void Answer(bool allow);

    std::string path_;
    Hold hold_;
    int descriptor_ = -1;
    /* AgainstWriting: the held opening's descriptor, to be answered. */
    int waiting_ = -1;
};

#endif

#include "HeldFile.h"

#include <chrono>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include "Files.h"

HeldFile::HeldFile(const std::string &path, const std::string &content, Hold hold)
    : path_(path), hold_(hold)
{
    WriteFile(path, content);
    if (hold == AgainstWriting) {
        std::string directory = path.substr(0, path.rfind('/'));
        descriptor_ = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
        if (descriptor_ < 0 ||
            fanotify_mark(descriptor_, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                          directory.c_str()) != 0)
            throw std::runtime_error("cannot watch openings in " + directory);
        return;
    }
    /* The holder is told of an opening that breaks the lease by SIGIO,
       which would end this process. */
    std::signal(SIGIO, SIG_IGN);
    descriptor_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0 || fcntl(descriptor_, F_SETLEASE, F_WRLCK) != 0)
        throw std::runtime_error("cannot take a lease on " + path);
}

HeldFile::~HeldFile()
{
    Release();
    if (descriptor_ >= 0)
        close(descriptor_);
}

bool HeldFile::WaitUntilWanted(int timeoutSeconds)
{
    if (hold_ == AgainstWriting)
        return WaitForOpening(timeoutSeconds);
    /* While an opening waits, the lease reads as what it is being broken
       to. */
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (fcntl(descriptor_, F_GETLEASE) == F_WRLCK) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(5000);
    }
    return true;
}

/* Answers every opening in the directory at once, except the first of the
   held file, which waits for Release. */
bool HeldFile::WaitForOpening(int timeoutSeconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (waiting_ < 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready = {descriptor_, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) <= 0)
            return false;
        alignas(fanotify_event_metadata) char buffer[4096];
        ssize_t length = read(descriptor_, buffer, sizeof buffer);
        auto *event = reinterpret_cast<fanotify_event_metadata *>(buffer);
        for (; length > 0 && FAN_EVENT_OK(event, length); event = FAN_EVENT_NEXT(event, length)) {
            char name[4096];
            std::string self = "/proc/self/fd/" + std::to_string(event->fd);
            ssize_t size = readlink(self.c_str(), name, sizeof name);
            if (waiting_ < 0 && size > 0 && std::string(name, size_t(size)) == path_) {
                waiting_ = event->fd;
                continue;
            }
            fanotify_response answer = {event->fd, FAN_ALLOW};
            write(descriptor_, &answer, sizeof answer);
            close(event->fd);
        }
    }
    return true;
}

void HeldFile::Release()
{
    Answer(true);
}

void HeldFile::Refuse()
{
    Answer(false);
}

void HeldFile::Answer(bool allow)
{
    if (hold_ == AgainstReading) {
        fcntl(descriptor_, F_SETLEASE, F_UNLCK);
        return;
    }
    /* Closing the group lets every opening still waiting go on. */
    if (waiting_ >= 0) {
        fanotify_response answer = {waiting_, __u32(allow ? FAN_ALLOW : FAN_DENY)};
        write(descriptor_, &answer, sizeof answer);
        close(waiting_);
        waiting_ = -1;
    }
    if (descriptor_ >= 0)
        close(descriptor_);
    descriptor_ = -1;
}

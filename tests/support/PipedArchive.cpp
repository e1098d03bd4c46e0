#include "PipedArchive.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

bool IsRunning(pid_t pid)
{
    std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    FILE *file = std::fopen(stat.c_str(), "r");
    if (file == nullptr)
        return false;
    char status = 'Z';
    if (std::fscanf(file, "%*d (%*[^)]) %c", &status) != 1)
        status = 'Z';
    std::fclose(file);
    return status != 'Z' && status != 'X';
}

/* Whether the process has the file open. */
bool HoldsOpen(pid_t pid, const std::string &path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path target = fs::canonical(path, error);
    for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code linkError;
        if (fs::read_symlink(entry.path(), linkError) == target)
            return true;
    }
    return false;
}

/* Opens the pipe for writing once a reader has opened it; -1 when the reader
   ended first. */
int OpenWhenRead(const std::string &path, pid_t reader)
{
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline && IsRunning(reader)) {
        int descriptor = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor >= 0) {
            fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
            return descriptor;
        }
        usleep(5000);
    }
    return -1;
}

void WriteAll(int descriptor, const std::string &bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        ssize_t written = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; /* the reader has gone: an abort or an error */
        done += size_t(written);
    }
}

}  // namespace

PipedArchive::PipedArchive(const std::string &path, std::string file, size_t holdAt)
    : path_(path), file_(std::move(file)), holdAt_(holdAt)
{
    if (mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed for " + path);
    /* A reader that stops early must not end the test process. */
    signal(SIGPIPE, SIG_IGN);
}

PipedArchive::~PipedArchive()
{
    Release();
    if (feeder_.joinable())
        feeder_.join();
}

void PipedArchive::Feed(pid_t reader)
{
    feeder_ = std::thread(&PipedArchive::FeedOpenings, this, reader);
}

void PipedArchive::Release()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        isReleased_ = true;
    }
    released_.notify_all();
}

void PipedArchive::FeedOpenings(pid_t reader)
{
    for (int opening = 0; opening < 2; opening++) {
        /* The second opening must meet a fresh reader: while the first is
           still open, a writer would join it and the first pass would read
           the archive twice. */
        if (opening == 1) {
            auto deadline = Clock::now() + std::chrono::seconds(60);
            while (HoldsOpen(reader, path_) && IsRunning(reader) && Clock::now() < deadline)
                usleep(2000);
        }
        int descriptor = OpenWhenRead(path_, reader);
        if (descriptor < 0)
            return;
        if (opening == 0 && holdAt_ > 0 && holdAt_ < file_.size()) {
            WriteAll(descriptor, file_.substr(0, holdAt_));
            std::unique_lock<std::mutex> guard(lock_);
            released_.wait(guard, [this] { return isReleased_; });
            guard.unlock();
            WriteAll(descriptor, file_.substr(holdAt_));
        } else {
            WriteAll(descriptor, file_);
        }
        close(descriptor);
    }
}

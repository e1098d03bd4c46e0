#include "OutputFile.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../format/ShownName.h"
#include "RemoveOnSignal.h"

namespace
{

/* Ten characters that nobody can guess in advance. Where the kernel gives
   no random bytes, the clock and the process stand in: the exclusive
   creation keeps the file safe either way. */
std::string UnpredictableSuffix()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[10];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        uint64_t mixed = uint64_t(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^ uint64_t(now.tv_sec) ^
                         (uint64_t(getpid()) << 32);
        for (unsigned char &byte : bytes) {
            mixed = mixed * 6364136223846793005ull + 1442695040888963407ull;
            byte = (unsigned char)(mixed >> 56);
        }
    }
    std::string suffix;
    for (unsigned char byte : bytes)
        suffix += alphabet[byte % (sizeof alphabet - 1)];
    return suffix;
}

} // namespace

bool OutputFile::Create(const std::string &path, mode_t mode, std::string &error)
{
    Abandon();
    shownPath_ = ShowName(path);
    size_t slash = path.rfind('/');
    std::string directoryPath = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : path.substr(0, slash);
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name_.empty() || name_ == "." || name_ == "..") {
        error = shownPath_ + " names a directory, not a file to write";
        return false;
    }
    directory_ = open(directoryPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directory_ < 0) {
        error = "cannot create " + shownPath_ + ": " + std::strerror(errno);
        return false;
    }
    struct stat existing;
    if (fstatat(directory_, name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(existing.st_mode)) {
        error = "cannot create " + shownPath_ + ": it is a directory";
        Abandon();
        return false;
    }
    /* A hidden name beside the final one, short enough for any name. */
    for (int attempt = 0; attempt < 100; attempt++) {
        std::string candidate(1, '.');
        candidate.append(name_, 0, 200).append(1, '.').append(UnpredictableSuffix());
        EndingSignalsHeld held;
        descriptor_ = openat(directory_, candidate.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor_ >= 0) {
            temporary_ = candidate;
            removalSlot_ = RemoveOnSignal(directory_, temporary_);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    error = "cannot create " + shownPath_ + ": " + std::strerror(errno);
    Abandon();
    return false;
}

bool OutputFile::Commit(std::string &error)
{
    int descriptor = descriptor_;
    descriptor_ = -1;
    /* A file server may report a failed write only when the file is closed. */
    if (close(descriptor) != 0) {
        error = "cannot write " + shownPath_ + ": " + std::strerror(errno);
        Abandon();
        return false;
    }
    if (renameat(directory_, temporary_.c_str(), directory_, name_.c_str()) != 0) {
        error = "cannot rename the finished file to " + shownPath_ + ": " + std::strerror(errno);
        Abandon();
        return false;
    }
    KeepOnSignal(removalSlot_);
    removalSlot_ = -1;
    temporary_.clear();
    close(directory_);
    directory_ = -1;
    return true;
}

void OutputFile::Abandon()
{
    if (descriptor_ >= 0)
        close(descriptor_);
    descriptor_ = -1;
    if (!temporary_.empty())
        unlinkat(directory_, temporary_.c_str(), 0);
    KeepOnSignal(removalSlot_);
    removalSlot_ = -1;
    temporary_.clear();
    if (directory_ >= 0)
        close(directory_);
    directory_ = -1;
}

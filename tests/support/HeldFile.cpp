#include "HeldFile.h"

#include <chrono>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include "Files.h"

HeldFile::HeldFile(const std::string &path, const std::string &content, Hold hold)
    : lease_(hold == AgainstReading ? F_WRLCK : F_RDLCK)
{
    WriteFile(path, content);
    /* The holder is told of an opening that breaks the lease by SIGIO,
       which would end this process. */
    std::signal(SIGIO, SIG_IGN);
    descriptor_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0 || fcntl(descriptor_, F_SETLEASE, lease_) != 0)
        throw std::runtime_error("cannot take a lease on " + path);
}

HeldFile::~HeldFile()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

bool HeldFile::WaitUntilWanted(int timeoutSeconds)
{
    /* While an opening waits, the lease reads as what it is being broken
       to. */
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (fcntl(descriptor_, F_GETLEASE) == lease_) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(5000);
    }
    return true;
}

void HeldFile::Release()
{
    fcntl(descriptor_, F_SETLEASE, F_UNLCK);
}

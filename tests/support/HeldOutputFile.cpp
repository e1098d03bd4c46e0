#include "HeldOutputFile.h"

#include <chrono>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include "Files.h"

HeldOutputFile::HeldOutputFile(const std::string &path, const std::string &content)
{
    WriteFile(path, content);
    /* The holder is told of an opening that breaks the lease by SIGIO,
       which would end this process. */
    std::signal(SIGIO, SIG_IGN);
    descriptor_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0 || fcntl(descriptor_, F_SETLEASE, F_RDLCK) != 0)
        throw std::runtime_error("cannot take a lease on " + path);
}

HeldOutputFile::~HeldOutputFile()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

bool HeldOutputFile::WaitUntilWanted(int timeoutSeconds)
{
    /* While an opening waits, the lease reads as what it is being broken
       to: none. */
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (fcntl(descriptor_, F_GETLEASE) == F_RDLCK) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(5000);
    }
    return true;
}

void HeldOutputFile::Release()
{
    fcntl(descriptor_, F_SETLEASE, F_UNLCK);
}

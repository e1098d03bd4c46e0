#include "HeldArchive.h"

#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include "Files.h"

HeldArchive::HeldArchive(const std::string &path, const std::string &file)
{
    WriteFile(path, file);
    /* The holder is told of an opening that breaks the lease by SIGIO,
       which would end this process. */
    std::signal(SIGIO, SIG_IGN);
    descriptor_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0 || fcntl(descriptor_, F_SETLEASE, F_WRLCK) != 0)
        throw std::runtime_error("cannot take a lease on " + path);
}

HeldArchive::~HeldArchive()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

void HeldArchive::Release()
{
    fcntl(descriptor_, F_SETLEASE, F_UNLCK);
}

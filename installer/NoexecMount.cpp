#include "Installer.h"

#include <sys/statvfs.h>

bool IsOnNoexecMount(const std::string &path)
{
    struct statvfs status;
    return statvfs(path.c_str(), &status) == 0 && (status.f_flag & ST_NOEXEC) != 0;
}

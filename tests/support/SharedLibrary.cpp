#include "SharedLibrary.h"

#include <dlfcn.h>
#include <link.h>

std::string FindSharedLibrary(const char *soname)
{
    void *handle = dlopen(soname, RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr)
        return "";
    struct link_map *map = nullptr;
    std::string path;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr)
        path = map->l_name;
    dlclose(handle);
    return path;
}

#include "IsalLibrary.h"
#include "HostStream.h"

#include <dlfcn.h>

namespace {

IsalLibrary library;

bool Resolve(void *handle)
{
    struct Symbol {
        const char *name;
        void **slot;
    };
    const Symbol symbols[] = {
        {"isal_inflate_init", reinterpret_cast<void **>(&library.isal_inflate_init)},
        {"isal_inflate_reset", reinterpret_cast<void **>(&library.isal_inflate_reset)},
        {"isal_inflate", reinterpret_cast<void **>(&library.isal_inflate)},
        {"crc32_gzip_refl", reinterpret_cast<void **>(&library.crc32_gzip_refl)},
    };
    for (const Symbol &symbol : symbols) {
        *symbol.slot = dlsym(handle, symbol.name);
        if (*symbol.slot == nullptr)
            return false;
    }
    return true;
}

const IsalLibrary *Load()
{
    /* The library's version 2 is the interface these calls were written
       against; another major version may differ in its structures. */
    void *handle = dlopen("libisal.so.2", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return nullptr;
    if (!Resolve(handle)) {
        dlclose(handle);
        return nullptr;
    }
    return &library;
}

}  // namespace

const IsalLibrary *LoadIsalLibrary()
{
    static const IsalLibrary *loaded = Load();
    return loaded;
}

bool IsIsalAvailable()
{
    return LoadIsalLibrary() != nullptr;
}

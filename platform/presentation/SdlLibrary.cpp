#include "SdlLibrary.h"

#include <dlfcn.h>

const SdlLibrary *LoadSdlLibrary()
{
    static SdlLibrary library;
    static bool loaded = false;
    if (loaded)
        return &library;
    /* Never closed: SDL's own threads and handlers may outlive the
       presentation until the process ends. */
    void *handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return nullptr;
#define VELORIN_SDL_LOOKUP(name)                                                                  \
    library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, #name));                \
    if (library.name == nullptr)                                                                  \
        return nullptr;
    VELORIN_SDL_CALLS(VELORIN_SDL_LOOKUP)
    VELORIN_SDL_LOOKUP(SDL_GetWindowWMInfo)
#undef VELORIN_SDL_LOOKUP
    loaded = true;
    return &library;
}

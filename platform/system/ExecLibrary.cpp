#include "../host/HostControls.h"
#include "HostLibraries.h"
#include "WindowHooks.h"

#include <cstring>

/* The host's libraries. Version 53 is the system release this layer stands in for. */

struct ExecIFace hostExecInterface;
struct UtilityIFace hostUtilityInterface;

namespace
{

const UWORD systemVersion = 53;

constexpr HostLibrary MakeLibrary(const char *name, Interface *mainInterface)
{
    HostLibrary library = {};
    library.library.lib_Node.ln_Name = name;
    library.library.lib_Version = systemVersion;
    library.library.lib_Revision = 1;
    library.mainInterface = mainInterface;
    library.present = true;
    library.hasInterface = true;
    return library;
}

/* Constant-initialised: the start-up reads it before any dynamic initialisation runs. */
constinit HostLibrary hostLibraries[] = {
    MakeLibrary("utility.library", &hostUtilityInterface),
    MakeLibrary("newlib.library", &hostNewlibInterface),
    MakeLibrary("dos.library", &hostDosInterface),
    MakeLibrary("intuition.library", &hostIntuitionInterface),
    MakeLibrary("gadtools.library", &hostGadToolsInterface),
    MakeLibrary("graphics.library", &hostGraphicsInterface),
};

HostLibrary *FindByName(CONST_STRPTR name)
{
    for (HostLibrary &library : hostLibraries)
        if (std::strcmp(library.library.lib_Node.ln_Name, name) == 0)
            return &library;
    return nullptr;
}

HostLibrary *FindByBase(const struct Library *base)
{
    for (HostLibrary &library : hostLibraries)
        if (&library.library == base)
            return &library;
    return nullptr;
}

} // namespace

void PrepareHostLibraries()
{
    for (HostLibrary &library : hostLibraries) {
        Interface::InterfaceData &data = library.mainInterface->Data;
        data.LibBase = &library.library;
        data.Name = "main";
        data.Version = 1;
        unsigned version = 0;
        switch (GetHostLibraryControl(library.library.lib_Node.ln_Name, &version)) {
        case HOST_LIBRARY_PRESENT:
            break;
        case HOST_LIBRARY_VERSION:
            library.library.lib_Version = UWORD(version);
            break;
        case HOST_LIBRARY_MISSING:
            library.present = false;
            break;
        case HOST_LIBRARY_NO_INTERFACE:
            library.hasInterface = false;
            break;
        }
    }
}

struct Library *ExecIFace::OpenLibrary(CONST_STRPTR name, ULONG version)
{
    HostLibrary *library = name != nullptr ? FindByName(name) : nullptr;
    if (library == nullptr || !library->present || library->library.lib_Version < version)
        return nullptr;
    library->library.lib_OpenCnt++;
    library->opens++;
    return &library->library;
}

void ExecIFace::CloseLibrary(struct Library *base)
{
    HostLibrary *library = FindByBase(base);
    if (library == nullptr)
        return;
    library->library.lib_OpenCnt--;
    library->closes++;
}

struct Interface *ExecIFace::GetInterface(struct Library *base, CONST_STRPTR name, ULONG version,
                                          const struct TagItem *)
{
    HostLibrary *library = FindByBase(base);
    if (library == nullptr || !library->hasInterface || name == nullptr ||
        std::strcmp(name, "main") != 0 || version > library->mainInterface->Data.Version)
        return nullptr;
    library->mainInterface->Data.RefCount++;
    library->interfacesTaken++;
    return library->mainInterface;
}

void ExecIFace::DropInterface(struct Interface *iface)
{
    if (iface == nullptr)
        return;
    HostLibrary *library = FindByBase(iface->Data.LibBase);
    if (library == nullptr)
        return;
    iface->Data.RefCount--;
    library->interfacesDropped++;
}

void WriteBalanceReport(std::FILE *report)
{
    for (const HostLibrary &library : hostLibraries)
        std::fprintf(report, "%s opened %u closed %u interface taken %u dropped %u\n",
                     library.library.lib_Node.ln_Name, library.opens, library.closes,
                     library.interfacesTaken, library.interfacesDropped);
    std::fprintf(report, "locks held %u\n", CountHeldLocks());
    WindowObjectCounts held = CountWindowObjects();
    std::fprintf(report, "screen locks held %u\n", held.screenLocks);
    std::fprintf(report, "draw infos held %u\n", held.drawInfos);
    std::fprintf(report, "windows held %u\n", held.windows);
    std::fprintf(report, "visual infos held %u\n", held.visualInfos);
    std::fprintf(report, "gadgets held %u\n", held.gadgets);
    std::fprintf(report, "messages held %u\n", held.messages);
    std::fprintf(report, "refreshes held %u\n", held.refreshes);
}

#include "HostLibraries.h"

#include <cstdio>

/* The library auto-open step: before main it opens gadtools, graphics and
   intuition with version 0 and fetches their interfaces; after main each
   library's destructor gives back exactly what this step took, whatever the
   program has since stored in the shared handle variables. */

struct Library *IntuitionBase;
struct Library *GadToolsBase;
struct Library *GfxBase;
struct IntuitionIFace *IIntuition;
struct GadToolsIFace *IGadTools;
struct GraphicsIFace *IGraphics;

namespace
{

struct PrivateCopies {
    struct Library *base;
    struct Interface *iface;
};

PrivateCopies gadToolsCopies;
PrivateCopies graphicsCopies;
PrivateCopies intuitionCopies;

/* The step's messages go to the error stream, or to standard output when the
   process was started without one. */
std::FILE *MessageStream()
{
    return StartedWithErrorStream() ? stderr : stdout;
}

template <typename IFace>
void OpenAutoLibrary(CONST_STRPTR name, struct Library *&base, IFace *&iface, PrivateCopies &copies)
{
    if (iface != nullptr)
        return;
    if (base == nullptr) {
        base = IExec->OpenLibrary(name, 0);
        copies.base = base;
        if (base == nullptr) {
            std::fprintf(MessageStream(), "ERROR: Failed to open '%s'.\n", name);
            INewlib->abort();
        }
    }
    copies.iface = IExec->GetInterface(base, "main", 1, nullptr);
    iface = static_cast<IFace *>(copies.iface);
    if (iface == nullptr) {
        std::fprintf(MessageStream(), "ERROR: Failed to get '%s' V%ld interface for '%s'.\n",
                     "main", 1L, name);
        INewlib->abort();
    }
}

void CloseAutoLibrary(PrivateCopies &copies)
{
    if (copies.iface != nullptr)
        IExec->DropInterface(copies.iface);
    if (copies.base != nullptr)
        IExec->CloseLibrary(copies.base);
    copies = {};
}

__attribute__((constructor(102))) void OpenAutoLibraries()
{
    OpenAutoLibrary("gadtools.library", GadToolsBase, IGadTools, gadToolsCopies);
    OpenAutoLibrary("graphics.library", GfxBase, IGraphics, graphicsCopies);
    OpenAutoLibrary("intuition.library", IntuitionBase, IIntuition, intuitionCopies);
}

__attribute__((destructor(102))) void CloseAutoLibraries()
{
    CloseAutoLibrary(intuitionCopies);
    CloseAutoLibrary(graphicsCopies);
    CloseAutoLibrary(gadToolsCopies);
}

} // namespace

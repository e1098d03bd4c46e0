#ifndef PROTO_GADTOOLS_H
#define PROTO_GADTOOLS_H

#include <exec/interfaces.h>
#include <libraries/gadtools.h>

struct GadToolsIFace : Interface {
    APTR GetVisualInfoA(struct Screen *screen, const struct TagItem *tags);
    template <typename... Tags> APTR GetVisualInfo(struct Screen *screen, Tags... tags)
    {
        auto list = MakeTagList(tags...);
        return GetVisualInfoA(screen, list.items);
    }
    void FreeVisualInfo(APTR visualInfo);
    struct Gadget *CreateContext(struct Gadget **list);
    struct Gadget *CreateGadgetA(ULONG kind, struct Gadget *previous,
                                 const struct NewGadget *newGadget, const struct TagItem *tags);
    template <typename... Tags>
    struct Gadget *CreateGadget(ULONG kind, struct Gadget *previous,
                                const struct NewGadget *newGadget, Tags... tags)
    {
        auto list = MakeTagList(tags...);
        return CreateGadgetA(kind, previous, newGadget, list.items);
    }
    void FreeGadgets(struct Gadget *list);
    void GT_RefreshWindow(struct Window *window, struct Requester *requester);
    struct IntuiMessage *GT_GetIMsg(struct MsgPort *port);
    void GT_ReplyIMsg(struct IntuiMessage *message);
    void GT_BeginRefresh(struct Window *window);
    void GT_EndRefresh(struct Window *window, LONG complete);
};

extern struct Library *GadToolsBase;
extern struct GadToolsIFace *IGadTools;

#endif

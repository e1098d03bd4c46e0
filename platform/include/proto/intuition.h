#ifndef PROTO_INTUITION_H
#define PROTO_INTUITION_H

#include <exec/interfaces.h>
#include <intuition/intuition.h>

struct IntuitionIFace : Interface {
    struct Screen *LockPubScreen(CONST_STRPTR name);
    void UnlockPubScreen(CONST_STRPTR name, struct Screen *screen);
    struct DrawInfo *GetScreenDrawInfo(struct Screen *screen);
    void FreeScreenDrawInfo(struct Screen *screen, struct DrawInfo *drawInfo);
    struct Window *OpenWindowTagList(const struct NewWindow *newWindow, const struct TagItem *tags);
    template <typename... Tags>
    struct Window *OpenWindowTags(const struct NewWindow *newWindow, Tags... tags)
    {
        auto list = MakeTagList(tags...);
        return OpenWindowTagList(newWindow, list.items);
    }
    void CloseWindow(struct Window *window);
    LONG EasyRequestArgs(struct Window *window, const struct EasyStruct *easyStruct, ULONG *idcmp,
                         const APTR args);
};

extern struct Library *IntuitionBase;
extern struct IntuitionIFace *IIntuition;

#endif

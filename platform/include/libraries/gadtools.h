#ifndef LIBRARIES_GADTOOLS_H
#define LIBRARIES_GADTOOLS_H

#include <intuition/intuition.h>

#define GENERIC_KIND 0
#define BUTTON_KIND 1

#define PLACETEXT_LEFT 0x0001
#define PLACETEXT_RIGHT 0x0002
#define PLACETEXT_ABOVE 0x0004
#define PLACETEXT_BELOW 0x0008
#define PLACETEXT_IN 0x0010

struct NewGadget {
    WORD ng_LeftEdge, ng_TopEdge;
    WORD ng_Width, ng_Height;
    CONST_STRPTR ng_GadgetText;
    struct TextAttr *ng_TextAttr;
    UWORD ng_GadgetID;
    ULONG ng_Flags;
    APTR ng_VisualInfo;
    APTR ng_UserData;
};

#endif

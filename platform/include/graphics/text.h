#ifndef GRAPHICS_TEXT_H
#define GRAPHICS_TEXT_H

#include <graphics/gfx.h>

struct TextAttr {
    CONST_STRPTR ta_Name;
    UWORD ta_YSize;
    UBYTE ta_Style;
    UBYTE ta_Flags;
};

struct TextFont {
    CONST_STRPTR tf_Name;
    UWORD tf_YSize;
    UWORD tf_XSize;
    UWORD tf_Baseline;
};

struct TextExtent {
    UWORD te_Width;
    UWORD te_Height;
    struct Rectangle te_Extent;
};

#endif

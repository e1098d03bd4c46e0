#ifndef PROTO_GRAPHICS_H
#define PROTO_GRAPHICS_H

#include <exec/interfaces.h>
#include <graphics/rastport.h>

struct GraphicsIFace : Interface {
    void SetAPen(struct RastPort *rp, ULONG pen);
    void SetDrMd(struct RastPort *rp, ULONG mode);
    void Move(struct RastPort *rp, LONG x, LONG y);
    void Draw(struct RastPort *rp, LONG x, LONG y);
    void RectFill(struct RastPort *rp, LONG xMin, LONG yMin, LONG xMax, LONG yMax);
    void EraseRect(struct RastPort *rp, LONG xMin, LONG yMin, LONG xMax, LONG yMax);
    void Text(struct RastPort *rp, CONST_STRPTR text, ULONG count);
    ULONG TextFit(struct RastPort *rp, CONST_STRPTR text, ULONG count, struct TextExtent *extent,
                  const struct TextExtent *constraining, LONG direction, ULONG widthLimit,
                  ULONG heightLimit);
};

extern struct Library *GfxBase;
extern struct GraphicsIFace *IGraphics;

#endif

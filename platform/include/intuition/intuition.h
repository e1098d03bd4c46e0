#ifndef INTUITION_INTUITION_H
#define INTUITION_INTUITION_H

#include <exec/ports.h>
#include <graphics/rastport.h>
#include <utility/tagitem.h>

/* DrawInfo pen numbers. */
#define DETAILPEN 0
#define BLOCKPEN 1
#define TEXTPEN 2
#define SHINEPEN 3
#define SHADOWPEN 4
#define FILLPEN 5
#define FILLTEXTPEN 6
#define BACKGROUNDPEN 7
#define HIGHLIGHTTEXTPEN 8
#define NUMDRIPENS 9

struct DrawInfo {
    UWORD dri_Version;
    UWORD dri_NumPens;
    UWORD *dri_Pens;
    struct TextFont *dri_Font;
    UWORD dri_Depth;
};

struct Screen {
    struct Screen *NextScreen;
    WORD LeftEdge, TopEdge;
    WORD Width, Height;
    BYTE BarHeight;
    BYTE WBorTop, WBorLeft, WBorRight, WBorBottom;
    struct TextAttr *Font;
    CONST_STRPTR Title;
};

struct Gadget {
    struct Gadget *NextGadget;
    WORD LeftEdge, TopEdge;
    WORD Width, Height;
    UWORD Flags;
    UWORD Activation;
    UWORD GadgetType;
    UWORD GadgetID;
    APTR UserData;
};

struct Window {
    struct Window *NextWindow;
    WORD LeftEdge, TopEdge;
    WORD Width, Height;
    ULONG Flags;
    struct Gadget *FirstGadget;
    struct RastPort *RPort;
    BYTE BorderLeft, BorderTop, BorderRight, BorderBottom;
    struct Screen *WScreen;
    struct MsgPort *UserPort;
    ULONG IDCMPFlags;
    CONST_STRPTR Title;
};

struct IntuiMessage {
    struct Message ExecMessage;
    ULONG Class;
    UWORD Code;
    UWORD Qualifier;
    APTR IAddress;
    WORD MouseX, MouseY;
    struct Window *IDCMPWindow;
};

/* A request with its texts. es_Screen and es_TagList are read only with flags. */
struct EasyStruct {
    ULONG es_StructSize;
    ULONG es_Flags;
    CONST_STRPTR es_Title;
    CONST_STRPTR es_TextFormat;
    CONST_STRPTR es_GadgetFormat;
    struct Screen *es_Screen;
    struct TagItem *es_TagList;
};

struct NewWindow;
struct Requester;

/* Message classes. */
#define IDCMP_REFRESHWINDOW 0x00000004UL
#define IDCMP_GADGETDOWN 0x00000020UL
#define IDCMP_GADGETUP 0x00000040UL

/* Window flags. */
#define WFLG_DRAGBAR 0x00000002UL
#define WFLG_SMART_REFRESH 0x00000000UL
#define WFLG_GIMMEZEROZERO 0x00000400UL
#define WFLG_ACTIVATE 0x00001000UL
#define WFLG_RMBTRAP 0x00010000UL

/* OpenWindowTags tags. */
#define WA_Dummy (TAG_USER + 99)
#define WA_Left (WA_Dummy + 0x01)
#define WA_Top (WA_Dummy + 0x02)
#define WA_Width (WA_Dummy + 0x03)
#define WA_Height (WA_Dummy + 0x04)
#define WA_IDCMP (WA_Dummy + 0x07)
#define WA_Flags (WA_Dummy + 0x08)
#define WA_Gadgets (WA_Dummy + 0x09)
#define WA_Title (WA_Dummy + 0x0B)
#define WA_InnerWidth (WA_Dummy + 0x13)
#define WA_InnerHeight (WA_Dummy + 0x14)
#define WA_PubScreen (WA_Dummy + 0x16)

#endif

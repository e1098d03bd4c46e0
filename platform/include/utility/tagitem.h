#ifndef UTILITY_TAGITEM_H
#define UTILITY_TAGITEM_H

#include <exec/types.h>

typedef ULONG Tag;

/* ti_Data carries numbers and pointers alike, so it is pointer-wide. */
struct TagItem {
    Tag ti_Tag;
    uintptr_t ti_Data;
};

#define TAG_DONE 0UL
#define TAG_END TAG_DONE
#define TAG_USER 0x80000000UL

#endif

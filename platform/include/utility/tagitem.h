#ifndef UTILITY_TAGITEM_H
#define UTILITY_TAGITEM_H

#include <exec/types.h>

#include <type_traits>

typedef ULONG Tag;

/* ti_Data carries numbers and pointers alike, so it is pointer-wide. */
struct TagItem {
    Tag ti_Tag;
    uintptr_t ti_Data;
};

#define TAG_DONE 0UL
#define TAG_END TAG_DONE
#define TAG_USER 0x80000000UL

/* The calls that take their tags in line (OpenWindowTags and the like) turn
   them into a TagItem list with this: arguments are tag, value, tag, value,
   ..., TAG_DONE; a pointer or a number may stand as a value. */
template <typename Value> inline uintptr_t MakeTagData(Value value)
{
    if constexpr (std::is_pointer_v<Value>)
        return reinterpret_cast<uintptr_t>(value);
    else
        return static_cast<uintptr_t>(value);
}

template <size_t Count> struct TagList {
    struct TagItem items[Count / 2 + 1];
};

template <typename... Values> inline TagList<sizeof...(Values)> MakeTagList(Values... values)
{
    const uintptr_t data[] = {MakeTagData(values)..., 0};
    TagList<sizeof...(Values)> list = {};
    for (size_t i = 0; i + 1 < sizeof...(Values); i += 2)
        list.items[i / 2] = {static_cast<Tag>(data[i]), data[i + 1]};
    return list;
}

#endif

#ifndef ARCHIVE_NAME_SET_H
#define ARCHIVE_NAME_SET_H

#include <stddef.h>

/* A set of names, for what a pass must remember about some entries (the
   files that later hard links name, the symbolic links to be made): it
   grows with what it holds, and looks a name up in constant time. */
struct NameSet {
    char **slots;
    size_t capacity; /* a power of two, or 0 */
    size_t count;
};

/* 1 when the name is in the set or was added, 0 when memory ran out. */
int AddName(struct NameSet *set, const char *name);
int HasName(const struct NameSet *set, const char *name);
/* Empties the set and gives its memory back. */
void ClearNames(struct NameSet *set);

#endif

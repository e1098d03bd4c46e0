#include "NameSet.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static uint64_t HashName(const char *name)
{
    uint64_t hash = 14695981039346656037ull;
    for (; *name != '\0'; name++)
        hash = (hash ^ (unsigned char)*name) * 1099511628211ull;
    return hash;
}

/* The slot that holds name, or the empty slot where it belongs. */
static char **FindSlot(char **slots, size_t capacity, const char *name)
{
    size_t at = (size_t)HashName(name) & (capacity - 1);
    while (slots[at] != NULL && strcmp(slots[at], name) != 0)
        at = (at + 1) & (capacity - 1);
    return &slots[at];
}

/* Kept at most half full, so that a look-up ends soon. */
static int GrowSet(struct NameSet *set)
{
    size_t capacity = set->capacity != 0 ? set->capacity * 2 : 64;
    char **slots = (char **)calloc(capacity, sizeof *slots);
    if (slots == NULL)
        return 0;
    for (size_t i = 0; i < set->capacity; i++) {
        if (set->slots[i] != NULL)
            *FindSlot(slots, capacity, set->slots[i]) = set->slots[i];
    }
    free(set->slots);
    set->slots = slots;
    set->capacity = capacity;
    return 1;
}

int AddName(struct NameSet *set, const char *name)
{
    if ((set->count + 1) * 2 > set->capacity && !GrowSet(set))
        return 0;
    char **slot = FindSlot(set->slots, set->capacity, name);
    if (*slot != NULL)
        return 1;
    *slot = strdup(name);
    if (*slot == NULL)
        return 0;
    set->count++;
    return 1;
}

int HasName(const struct NameSet *set, const char *name)
{
    return set->capacity != 0 && *FindSlot(set->slots, set->capacity, name) != NULL;
}

void ClearNames(struct NameSet *set)
{
    for (size_t i = 0; i < set->capacity; i++)
        free(set->slots[i]);
    free(set->slots);
    set->slots = NULL;
    set->capacity = 0;
    set->count = 0;
}

#include "EntryName.h"

#include <string.h>

int IsSafeEntryName(const char *field, size_t fieldSize)
{
    const char *end = (const char *)memchr(field, '\0', fieldSize);
    if (end == NULL || end == field || field[0] == '/')
        return 0;
    for (const char *component = field; component <= end;) {
        const char *slash = (const char *)memchr(component, '/', end - component);
        const char *componentEnd = slash != NULL ? slash : end;
        size_t length = componentEnd - component;
        if (length == 0 || (length == 1 && component[0] == '.') ||
            (length == 2 && component[0] == '.' && component[1] == '.'))
            return 0;
        component = componentEnd + 1;
    }
    return 1;
}

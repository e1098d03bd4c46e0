#include "LinkTarget.h"

#include <string.h>

int IsSafeLinkTarget(const char *linkName, const char *target,
                     int (*passes)(const char *directory, void *context), void *context)
{
    /* The directory being resolved, as a path below the destination: at
       most a name's directory and a target's components, each under 256
       bytes. */
    char path[512];
    const char *lastSlash = strrchr(linkName, '/');
    size_t length = lastSlash != NULL ? (size_t)(lastSlash - linkName) : 0;
    size_t targetLength = strlen(target);
    if (targetLength == 0 || target[0] == '/' || length + targetLength + 2 > sizeof path)
        return 0;
    memcpy(path, linkName, length);
    path[length] = '\0';
    for (const char *component = target; *component != '\0';) {
        const char *end = strchr(component, '/');
        size_t size = end != NULL ? (size_t)(end - component) : strlen(component);
        if (size == 2 && component[0] == '.' && component[1] == '.') {
            if (length == 0)
                return 0;
            char *up = strrchr(path, '/');
            length = up != NULL ? (size_t)(up - path) : 0;
            path[length] = '\0';
        } else if (size != 0 && !(size == 1 && component[0] == '.')) {
            if (length != 0)
                path[length++] = '/';
            memcpy(path + length, component, size);
            length += size;
            path[length] = '\0';
            /* Followed by anything, even a lone '/', it is resolved as a
               directory. */
            if (end != NULL && !passes(path, context))
                return 0;
        }
        component = end != NULL ? end + 1 : component + size;
    }
    return 1;
}

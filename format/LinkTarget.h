#ifndef FORMAT_LINK_TARGET_H
#define FORMAT_LINK_TARGET_H

/* Whether the symbolic link linkName (a safe entry name) holding target
   stays inside the destination: target is relative and not empty, and
   resolved from the link's directory one component at a time, no ".."
   ever leaves the destination. Every directory the resolution passes
   through (each component followed by another, as a path below the
   destination) is handed to passes, which must answer 1: it says whether
   that directory is a real one rather than a link, for a ".." after a link
   would lead elsewhere. The last component may itself be a link. 1 when
   the target is safe, 0 when not. */
int IsSafeLinkTarget(const char *linkName, const char *target,
                     int (*passes)(const char *directory, void *context), void *context);

#endif

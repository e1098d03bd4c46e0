#ifndef TOOLS_STANDARD_DESCRIPTORS_H
#define TOOLS_STANDARD_DESCRIPTORS_H

/* Opens /dev/null on each of descriptors 0, 1 and 2 that was closed when the
   program started, before anything else is opened: otherwise the archive
   could become descriptor 1 or 2, and a warning or the summary would be
   written into it. Writing to one of them then fails, as it did while it
   was closed. False when that cannot be done. */
bool OpenStandardDescriptors();

#endif

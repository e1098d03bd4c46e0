#ifndef ARCHIVE_PERCENTAGES_H
#define ARCHIVE_PERCENTAGES_H

#include <stdint.h>

/* The total gauge: done over total in single precision, times 100 in double
   precision, truncated; kept within 0 to 100, and 100 for a total of 0. */
int ComputeTotalPercentage(uint64_t done, int64_t total);

/* The file gauge: done × 100 / size in integer arithmetic; 100 for size 0. */
int ComputeFilePercentage(uint64_t done, uint64_t size);

#endif

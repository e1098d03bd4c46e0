#include "Percentages.h"

int ComputeTotalPercentage(uint64_t done, int64_t total)
{
    if (total <= 0)
        return 100;
    float quotient = (float)done / (float)total;
    double percentage = (double)quotient * 100.0;
    if (!(percentage < 100.0))
        return 100;
    return (int)percentage;
}

int ComputeFilePercentage(uint64_t done, uint64_t size)
{
    if (size == 0 || done >= size)
        return 100;
    /* done × 100 overflows only for sizes beyond 2^57 bytes; there the
       rounded divisor could reach 100 before the end. */
    if (size <= UINT64_MAX / 100)
        return (int)(done * 100 / size);
    uint64_t percentage = done / (size / 100);
    return percentage > 99 ? 99 : (int)percentage;
}

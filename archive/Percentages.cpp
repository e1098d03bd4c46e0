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

int ComputeFilePercentage(uint64_t done, uint32_t size)
{
    if (size == 0 || done >= size)
        return 100;
    return (int)(done * 100 / size);
}

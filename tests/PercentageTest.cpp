#include <gtest/gtest.h>

#include "../archive/Percentages.h"

namespace
{

/* The gauges never leave 0 to 100, whatever counts a damaged or huge
   archive gives, and only a finished file or archive shows 100. */
TEST(Percentages, StayWithinZeroToHundredForAnyCounts)
{
    EXPECT_EQ(ComputeTotalPercentage(0, 0), 100);
    EXPECT_EQ(ComputeTotalPercentage(5, -3), 100);
    EXPECT_EQ(ComputeTotalPercentage(200, 100), 100);
    EXPECT_EQ(ComputeTotalPercentage(UINT64_MAX, 1), 100);
    EXPECT_EQ(ComputeFilePercentage(0, 0), 100);
    EXPECT_EQ(ComputeFilePercentage(INT64_MAX - 1, INT64_MAX), 99);
}

/* Counts beyond 32 bits, and sizes whose hundredfold overflows 64 bits. */
TEST(Percentages, HoldForArchivesAndFilesOfManyGigabytes)
{
    EXPECT_EQ(ComputeTotalPercentage(3000000000u, 6000000000LL), 50);
    EXPECT_EQ(ComputeFilePercentage(2308544921u, 4617089843u), 49);
    EXPECT_EQ(ComputeFilePercentage(4617089842u, 4617089843u), 99);
    EXPECT_EQ(ComputeFilePercentage(INT64_MAX / 2, INT64_MAX), 50);
}

} // namespace

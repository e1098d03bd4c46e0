#include <gtest/gtest.h>

#include "../archive/Percentages.h"

namespace
{

TEST(Percentages, TotalFollowsSinglePrecisionDivision)
{
    EXPECT_EQ(ComputeTotalPercentage(1, 100), 0);
    EXPECT_EQ(ComputeTotalPercentage(29, 100), 28);
    EXPECT_EQ(ComputeTotalPercentage(50, 100), 50);
    EXPECT_EQ(ComputeTotalPercentage(100, 100), 100);
    EXPECT_EQ(ComputeTotalPercentage(33554432, 33554434), 100);
    EXPECT_EQ(ComputeTotalPercentage(4294967295u, 4294967295u), 100);
}

TEST(Percentages, TotalStaysWithinZeroToHundredForAnyCounts)
{
    EXPECT_EQ(ComputeTotalPercentage(0, 0), 100);
    EXPECT_EQ(ComputeTotalPercentage(5, 0), 100);
    EXPECT_EQ(ComputeTotalPercentage(5, -3), 100);
    EXPECT_EQ(ComputeTotalPercentage(200, 100), 100);
    EXPECT_EQ(ComputeTotalPercentage(UINT64_MAX, 1), 100);
    EXPECT_EQ(ComputeTotalPercentage(0, 100), 0);
    /* Beyond what a signed 32-bit total could hold. */
    EXPECT_EQ(ComputeTotalPercentage(3000000000u, 6000000000LL), 50);
    EXPECT_EQ(ComputeTotalPercentage(1500000000u, 6000000000LL), 25);
}

TEST(Percentages, FileCountsWholePieces)
{
    EXPECT_EQ(ComputeFilePercentage(65535, 65536), 99);
    EXPECT_EQ(ComputeFilePercentage(65536, 65536), 100);
    EXPECT_EQ(ComputeFilePercentage(762u * 65535u, 50000000), 99);
    EXPECT_EQ(ComputeFilePercentage(50000000, 50000000), 100);
    EXPECT_EQ(ComputeFilePercentage(4294967295u, 4294967295u), 100);
    EXPECT_EQ(ComputeFilePercentage(4294967294u, 4294967295u), 99);
    EXPECT_EQ(ComputeFilePercentage(0, 0), 100);
    /* Files of 4 GiB or more, and sizes whose hundredfold overflows. */
    EXPECT_EQ(ComputeFilePercentage(2308544921u, 4617089843u), 49);
    EXPECT_EQ(ComputeFilePercentage(4617089842u, 4617089843u), 99);
    EXPECT_EQ(ComputeFilePercentage(INT64_MAX / 2, INT64_MAX), 50);
    EXPECT_EQ(ComputeFilePercentage(INT64_MAX - 1, INT64_MAX), 99);
}

} // namespace

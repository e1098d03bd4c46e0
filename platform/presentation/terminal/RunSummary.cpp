#include "RunSummary.h"

#include <cstdio>

namespace
{

/* The return codes of a run that unpacked everything and of one the
   person aborted. */
const int unpackedRun = 1;
const int abortedRun = 2;

std::string Count(unsigned long long count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

/* Bytes in the largest decimal unit that leaves a number of at least 1. */
std::string DescribeBytes(unsigned long long bytes)
{
    if (bytes < 1000)
        return Count(bytes, "byte", "bytes");
    static const char *const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes) / 1000.0;
    size_t unit = 0;
    while (value >= 999.95 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1000.0;
        unit++;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string DescribeTime(unsigned long long milliseconds)
{
    char text[48];
    if (milliseconds < 59950)
        std::snprintf(text, sizeof text, "%.1f s", double(milliseconds) / 1000.0);
    else
        std::snprintf(text, sizeof text, "%llu min %llu s", (milliseconds + 500) / 60000,
                      (milliseconds + 500) / 1000 % 60);
    return text;
}

} // namespace

std::string DescribeRun(int returnCode, unsigned long files, unsigned long directories,
                        unsigned long long bytes, unsigned long long milliseconds)
{
    if (returnCode != unpackedRun && returnCode != abortedRun)
        return "";
    return std::string(returnCode == unpackedRun ? "Unpacked " : "Aborted after unpacking ") +
           Count(files, "file", "files") + " and " +
           Count(directories, "directory", "directories") + " (" + DescribeBytes(bytes) + ") in " +
           DescribeTime(milliseconds);
}

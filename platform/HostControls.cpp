#include "HostControls.h"

#include <cstdlib>
#include <cstring>

namespace {

struct HostControls {
    const char *libraries;
    bool instantClock;
    const char *balanceReport;
};

HostControls controls;

}  // namespace

void ReadHostControls()
{
    controls.libraries = std::getenv("VELORIN_HOST_LIBRARIES");
    const char *clock = std::getenv("VELORIN_HOST_CLOCK");
    controls.instantClock = clock != nullptr && std::strcmp(clock, "instant") == 0;
    const char *report = std::getenv("VELORIN_HOST_BALANCE_REPORT");
    controls.balanceReport = report != nullptr && *report != '\0' ? report : nullptr;
}

HostLibraryState GetHostLibraryControl(const char *libraryName, unsigned *version)
{
    size_t nameLength = std::strlen(libraryName);
    for (const char *item = controls.libraries; item != nullptr && *item != '\0';) {
        const char *end = std::strchr(item, ',');
        size_t itemLength = end != nullptr ? size_t(end - item) : std::strlen(item);
        if (itemLength > nameLength && std::strncmp(item, libraryName, nameLength) == 0 &&
            item[nameLength] == '=') {
            const char *state = item + nameLength + 1;
            size_t stateLength = itemLength - nameLength - 1;
            if (stateLength == 7 && std::strncmp(state, "missing", 7) == 0)
                return HOST_LIBRARY_MISSING;
            if (stateLength == 12 && std::strncmp(state, "no-interface", 12) == 0)
                return HOST_LIBRARY_NO_INTERFACE;
            char *numberEnd = nullptr;
            unsigned long number = std::strtoul(state, &numberEnd, 10);
            if (numberEnd == state + stateLength && stateLength > 0 && number <= 0xFFFF) {
                *version = unsigned(number);
                return HOST_LIBRARY_VERSION;
            }
        }
        item = end != nullptr ? end + 1 : nullptr;
    }
    return HOST_LIBRARY_PRESENT;
}

bool IsHostClockInstant()
{
    return controls.instantClock;
}

const char *GetHostBalanceReportPath()
{
    return controls.balanceReport;
}

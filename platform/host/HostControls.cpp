#include "HostControls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{

HostControls controls;

/* Whether the comma-separated list holds word. */
bool ListHolds(const char *list, const char *word)
{
    size_t length = std::strlen(word);
    for (const char *item = list; item != nullptr && *item != '\0';) {
        const char *end = std::strchr(item, ',');
        size_t itemLength = end != nullptr ? size_t(end - item) : std::strlen(item);
        if (itemLength == length && std::strncmp(item, word, length) == 0)
            return true;
        item = end != nullptr ? end + 1 : nullptr;
    }
    return false;
}

} // namespace

#if VELORIN_HOST_CONTROLS

namespace
{

const char *ReadText(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

HostScreenSize ReadScreenSize(const char *name)
{
    HostScreenSize size;
    const char *value = ReadText(name);
    if (value == nullptr)
        return size;
    long width = 0, height = 0, fontHeight = 8;
    char end = '\0';
    int fields = std::sscanf(value, "%ldx%ldx%ld%c", &width, &height, &fontHeight, &end);
    if ((fields == 2 || fields == 3) && width > 0 && width < 32768 && height > 0 &&
        height < 32768 && fontHeight >= 8 && fontHeight <= 32)
        size = {true, width, height, fontHeight};
    return size;
}

} // namespace

void ReadHostControls()
{
    controls.libraries = ReadText("VELORIN_HOST_LIBRARIES");
    const char *clock = ReadText("VELORIN_HOST_CLOCK");
    controls.instantClock = clock != nullptr && std::strcmp(clock, "instant") == 0;
    controls.balanceReport = ReadText("VELORIN_HOST_BALANCE_REPORT");
    controls.presentation = ReadText("VELORIN_HOST_PRESENTATION");
    controls.screen = ReadScreenSize("VELORIN_HOST_SCREEN");
    controls.installerScreen = ReadScreenSize("VELORIN_HOST_INSTALLER_SCREEN");
    controls.failingCalls = ReadText("VELORIN_HOST_FAIL");
    const char *abortAt = ReadText("VELORIN_HOST_ABORT_AT");
    controls.abortAt = abortAt != nullptr ? std::strtoul(abortAt, nullptr, 10) : 0;
    controls.answer = ReadText("VELORIN_HOST_ANSWER");
}

#else

/* What users run takes nothing from the environment: every control keeps its
   default, and the platform behaves as the system it stands in for. */
void ReadHostControls() {}

#endif

HostControls &GetHostControls()
{
    return controls;
}

HostLibraryState GetHostLibraryControl(const char *libraryName, unsigned *version)
{
    size_t nameLength = std::strlen(libraryName);
    for (const char *item = controls.libraries; item != nullptr && *item != '\0';) {
        const char *end = std::strchr(item, ',');
        size_t itemLength = end != nullptr ? size_t(end - item) : std::strlen(item);
        if (itemLength > nameLength && std::strncmp(item, libraryName, nameLength) == 0 &&
            item[nameLength] == '=') {
            std::string_view state(item + nameLength + 1, itemLength - nameLength - 1);
            if (state == "missing")
                return HOST_LIBRARY_MISSING;
            if (state == "no-interface")
                return HOST_LIBRARY_NO_INTERFACE;
            char *numberEnd = nullptr;
            unsigned long number = std::strtoul(state.data(), &numberEnd, 10);
            if (numberEnd == state.data() + state.size() && !state.empty() && number <= 0xFFFF) {
                *version = unsigned(number);
                return HOST_LIBRARY_VERSION;
            }
        }
        item = end != nullptr ? end + 1 : nullptr;
    }
    return HOST_LIBRARY_PRESENT;
}

bool IsHostCallFailing(const char *callName)
{
    return ListHolds(controls.failingCalls, callName);
}

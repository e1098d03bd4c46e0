#include "ErrorLine.h"

#include "../text/EscapedText.h"
#include "../text/HostReason.h"
#include "HostModel.h"
#include "Presentation.h"

#include <mutex>

namespace
{

std::string lastErrorLine;

} // namespace

bool PauseAfterErrorLine(LONG ticks)
{
    std::string line;
    if (!ReadMessageLine(line))
        return false;
    if (const char *reason = TakeHostReason())
        line.append(": ").append(reason);
    RememberErrorLine(line);
    GetPresentation().ReportErrorLine(line.c_str());
    {
        std::lock_guard<std::recursive_mutex> guard(GetModelLock());
        SetButtonsAvailable(false);
    }
    GetPresentation().Pause(ticks);
    std::lock_guard<std::recursive_mutex> guard(GetModelLock());
    SetButtonsAvailable(true);
    return true;
}

bool ReadMessageLine(std::string &line)
{
    std::string text;
    {
        std::lock_guard<std::recursive_mutex> guard(GetModelLock());
        const std::vector<HostWindow *> &windows = GetOpenWindows();
        if (windows.empty())
            return false;
        text = windows.back()->laidOutText;
    }
    line = EscapedText(text);
    return true;
}

void RememberErrorLine(const std::string &line)
{
    lastErrorLine = line;
}

const std::string &GetLastErrorLine()
{
    return lastErrorLine;
}

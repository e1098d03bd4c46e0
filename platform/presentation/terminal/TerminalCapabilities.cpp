#include "TerminalCapabilities.h"

#include <cstdlib>

#include <term.h>
#include <unistd.h>

namespace
{

/* A string capability, or empty when the terminal has none. */
std::string GetCapability(const char *name)
{
    char *value = tigetstr(name);
    if (value == nullptr || value == reinterpret_cast<char *>(-1))
        return "";
    return value;
}

} // namespace

bool TerminalCapabilities::Read(int descriptor)
{
    int error = 0;
    if (setupterm(nullptr, descriptor, &error) != 0)
        return false;
    up_ = GetCapability("cuu1");
    upLines_ = GetCapability("cuu");
    clearLine = GetCapability("el");
    clearBelow = GetCapability("ed");
    if ((up_.empty() && upLines_.empty()) || clearLine.empty() || clearBelow.empty())
        return false;
    hideCursor = GetCapability("civis");
    showCursor = GetCapability("cnorm");
    plain = GetCapability("sgr0");
    foreground_ = GetCapability("setaf");
    background_ = GetCapability("setab");
    stopWrapping = GetCapability("rmam");
    startWrapping = GetCapability("smam");
    if (stopWrapping.empty() || startWrapping.empty())
        stopWrapping = startWrapping = "";
    enterLineDrawing = GetCapability("smacs");
    exitLineDrawing = GetCapability("rmacs");
    lineDrawingPairs = GetCapability("acsc");
    if (enterLineDrawing.empty() || exitLineDrawing.empty())
        lineDrawingPairs.clear();
    lastColumnUsable = tigetflag("am") <= 0 || tigetflag("xenl") > 0 || !stopWrapping.empty();
    int count = tigetnum("colors");
    if (std::getenv("NO_COLOR") == nullptr && !plain.empty() && !foreground_.empty() &&
        !background_.empty())
        colours = count >= 256 ? 256 : count >= 8 ? 8 : 0;
    return true;
}

bool TerminalCapabilities::ReadAgain()
{
    TERMINAL *before = cur_term;
    bool readable = Read(STDERR_FILENO);
    if (before != nullptr && cur_term != before)
        del_curterm(set_curterm(before));
    return readable;
}

std::string TerminalCapabilities::Up(int count) const
{
    if (count <= 0)
        return "";
    if (!upLines_.empty() && (count > 1 || up_.empty()))
        return tiparm(upLines_.c_str(), count);
    std::string moves;
    for (int i = 0; i < count; i++)
        moves += up_;
    return moves;
}

std::string TerminalCapabilities::Foreground(int colour) const
{
    return colours > 0 ? tiparm(foreground_.c_str(), colour) : "";
}

std::string TerminalCapabilities::Background(int colour) const
{
    return colours > 0 ? tiparm(background_.c_str(), colour) : "";
}

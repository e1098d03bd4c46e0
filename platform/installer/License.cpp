#include "Installer.h"

#include "../presentation/Presentation.h"
#include "../presentation/terminal/Pager.h"

LicenseAnswer AskLicense(const std::string &text)
{
    Presentation &presentation = GetPresentation();
    if (presentation.IsOnDesktop())
        return AskLicenseInWindow(text) ? LicenseAnswer::ACCEPTED : LicenseAnswer::DECLINED;
    if (!presentation.IsOnTerminal())
        return LicenseAnswer::UNASKED;
    switch (RunPager(text, "Do you accept the licence?")) {
    case PagerAnswer::ACCEPTED:
        return LicenseAnswer::ACCEPTED;
    case PagerAnswer::DECLINED:
        return LicenseAnswer::DECLINED;
    case PagerAnswer::INTERRUPTED:
        return LicenseAnswer::ABORTED;
    case PagerAnswer::UNAVAILABLE:
        break;
    }
    return LicenseAnswer::UNASKED;
}

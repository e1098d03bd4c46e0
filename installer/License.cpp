#include "Installer.h"

#include "../platform/presentation/Presentation.h"
#include "../platform/presentation/terminal/Pager.h"

LicenseAnswer AskLicense(const std::string &text)
{
    Presentation &presentation = GetPresentation();
    if (presentation.IsOnDesktop()) {
        if (AskLicenseInWindow(text))
            return LicenseAnswer::ACCEPTED;
        /* A display that went away answered nothing: nobody declined. */
        return presentation.IsOnDesktop() ? LicenseAnswer::DECLINED : LicenseAnswer::UNASKED;
    }
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

#ifndef PLATFORM_PRESENTATION_H
#define PLATFORM_PRESENTATION_H

#include "../window/ErrorLine.h"
#include "../window/Presentation.h"

#include <string>

/* The presentations. Each returns null when it cannot start here; the
   desktop then says why in why, unless no display was asked for. One is
   chosen at the first need, by the host control VELORIN_HOST_PRESENTATION
   or else by what the host offers. */
Presentation *StartDesktopPresentation(std::string &why);
Presentation *StartTerminalPresentation();
Presentation *StartHeadlessPresentation();

#endif

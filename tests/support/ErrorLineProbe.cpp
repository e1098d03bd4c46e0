/* Opens the progress window in the terminal presentation, reports an error
   line while the box is up, and closes the window once the file named by
   its second argument exists: the terminal tests watch where the line
   lands. */

#include <unistd.h>

#include "../../platform/host/HostControls.h"
#include "../../platform/presentation/Presentation.h"
#include "../../progress/progress.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        return 20;
    GetHostControls().presentation = "terminal";
    if (InitInterface() != 1)
        return 20;
    UpdateMessage("docs/readme", 0);
    GetPresentation().ReportErrorLine(argv[1]);
    while (access(argv[2], F_OK) != 0)
        usleep(20000);
    CloseInterface();
    return 0;
}

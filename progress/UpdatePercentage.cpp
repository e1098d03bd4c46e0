#include "ProgressWindow.h"

#include "progress.h"

LONG MessageBox(CONST_STRPTR title, CONST_STRPTR text, CONST_STRPTR buttons)
{
    struct EasyStruct request = {};
    request.es_StructSize = sizeof request;
    request.es_Flags = 0;
    request.es_Title = title;
    request.es_TextFormat = text;
    request.es_GadgetFormat = buttons;
    return IIntuition->EasyRequestArgs(window, &request, NULL, NULL);
}

/* Redraws both gauges, then empties the window's queue. The only gadget is
   Abort, so any gadget-up is a press of it; however many presses wait, the
   user is asked once. */
int UpdatePercentage(int total, int file)
{
    DrawGauge(file, 0);
    DrawGauge(total, 1);
    int goOn = 1;
    struct IntuiMessage *message;
    while ((message = IGadTools->GT_GetIMsg(window->UserPort)) != NULL) {
        ULONG messageClass = message->Class;
        IGadTools->GT_ReplyIMsg(message);
        switch (messageClass) {
        case IDCMP_GADGETUP:
            goOn = 0;
            break;
        case IDCMP_REFRESHWINDOW:
            IGadTools->GT_BeginRefresh(window);
            IGadTools->GT_EndRefresh(window, TRUE);
            break;
        default:
            break;
        }
    }
    if (goOn)
        return 1;
    return MessageBox("Abort Operation", "Are you sure you want to abort the installation?",
                      "Yes|No") == 0
               ? 1
               : 0;
}

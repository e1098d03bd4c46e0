#include "ProgressWindow.h"

#include <stdio.h>
#include <string.h>

/* The label "%3d %%" and ten spaces; built by hand for the percentages a
   gauge shows, as both gauges are redrawn for every piece written. */
static void FormatGaugeLabel(char *label, size_t size, int percentage)
{
    static const char blank[] = "    %          ";
    if (percentage < 0 || percentage > 100 || size < sizeof blank) {
        snprintf(label, size, "%3d %%          ", percentage);
        return;
    }
    memcpy(label, blank, sizeof blank);
    label[2] = (char)('0' + percentage % 10);
    if (percentage >= 10)
        label[1] = (char)('0' + percentage / 10 % 10);
    if (percentage == 100)
        label[0] = '1';
}

/* A gauge: a frame that looks sunk in (shadow above and left, shine below
   and right), the bar, and the percentage drawn in complement so that it
   reads over the bar and the background alike. Redrawn whole every time. */
void DrawGauge(int percentage, int index)
{
    struct RastPort *rp = window->RPort;
    WORD top = (WORD)(gy + (WORD)(index * (gh + 4)));
    char label[32];

    IGraphics->SetAPen(rp, pens[SHINEPEN] & 0xFF);
    IGraphics->Move(rp, gx + gw - 1, top);
    IGraphics->Draw(rp, gx + gw - 1, top + gh);
    IGraphics->Draw(rp, gx, top + gh);
    IGraphics->SetAPen(rp, pens[SHADOWPEN] & 0xFF);
    IGraphics->Draw(rp, gx, top);
    IGraphics->Draw(rp, gx + gw - 1, top);

    IGraphics->EraseRect(rp, gx + 1, top + 1, gx + gw - 2, top + gh - 1);
    IGraphics->SetAPen(rp, pens[FILLPEN] & 0xFF);
    if (percentage != 0)
        IGraphics->RectFill(rp, gx + 1, top + 1, gx + (gw - 1) * percentage / 100, top + gh - 1);

    IGraphics->SetAPen(rp, pens[TEXTPEN] & 0xFF);
    IGraphics->Move(rp, gx + gw / 2 - 20, top + gh / 2 + rp->TxBaseline / 2);
    FormatGaugeLabel(label, sizeof label, percentage);
    IGraphics->SetDrMd(rp, COMPLEMENT);
    IGraphics->Text(rp, label, strlen(label));
    IGraphics->SetDrMd(rp, JAM1);
}

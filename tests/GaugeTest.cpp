#include <cstdio>
#include <cstring>
#include <string>

#include "../platform/window/Font.h"
#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/ModelWindow.h"

namespace
{

/* What a gauge must look like, pixel by pixel, worked out from its geometry
   alone: a frame of gw columns and gh + 1 rows, shadow on the top and left
   edges and shine on the others; the bar to gx + (gw - 1) * percentage / 100;
   the label inverted over whatever lies beneath it. */
class GaugeDrawing : public StandardWindowTest
{
  protected:
    UBYTE ExpectedBeneathLabel(int percentage, LONG px, LONG py, LONG top)
    {
        LONG right = gx + gw - 1, bottom = top + gh;
        if (py == top || px == gx)
            return UBYTE(pens[SHADOWPEN]);
        bool inBarRows = py > top && py < bottom;
        if (percentage != 0 && inBarRows && px <= gx + (gw - 1) * percentage / 100)
            return UBYTE(pens[FILLPEN]);
        if (py == bottom || px == right)
            return UBYTE(pens[SHINEPEN]);
        return 0;
    }

    void ExpectGauge(int percentage, int index)
    {
        SCOPED_TRACE("gauge " + std::to_string(index) + " at " + std::to_string(percentage));
        const struct RastPort &rp = Model().rastPort;
        LONG top = gy + index * (gh + 4);
        char label[32];
        std::snprintf(label, sizeof label, "%3d %%          ", percentage);
        LONG labelX = gx + gw / 2 - 20, labelTop = top + gh / 2 + rp.TxBaseline / 2 - rp.TxBaseline;
        int wrong = 0;
        for (LONG py = top; py <= top + gh; py++) {
            for (LONG px = gx; px <= gx + gw - 1; px++) {
                UBYTE expected = ExpectedBeneathLabel(percentage, px, py, top);
                LONG column = px - labelX, row = py - labelTop;
                if (column >= 0 && column < LONG(std::strlen(label)) * FONT_WIDTH && row >= 0 &&
                    row < FONT_ROWS) {
                    unsigned char bits = GetGlyph(label[column / FONT_WIDTH])[row];
                    if (bits & (0x80 >> column % FONT_WIDTH))
                        expected ^= 7;
                }
                if (Pixel(px, py) != expected && wrong++ < 5)
                    ADD_FAILURE() << "pixel (" << px << ", " << py << ") is " << int(Pixel(px, py))
                                  << ", expected " << int(expected);
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(rp.DrawMode, JAM1);
    }
};

TEST_F(GaugeDrawing, BothGaugesRisingAndFalling)
{
    /* A lower percentage after a higher one redraws the whole gauge. */
    for (int percentage : {0, 50, 100, 50, 0}) {
        DrawGauge(percentage, 0);
        ExpectGauge(percentage, 0);
        DrawGauge(percentage, 1);
        ExpectGauge(percentage, 1);
    }
}

} // namespace

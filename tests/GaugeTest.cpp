#include <algorithm>
#include <string>

#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/ModelWindow.h"

namespace
{

/* What a person reads off a gauge: a framed bar that fills from the left as
   far as the percentage says, and the percentage written over it. */
class GaugeDrawing : public StandardWindowTest
{
  protected:
    void ExpectGauge(int percentage, int index)
    {
        SCOPED_TRACE("gauge " + std::to_string(index) + " at " + std::to_string(percentage));
        LONG top = gy + index * (gh + 4);
        /* The row below the top edge, which the label does not reach. */
        std::vector<UBYTE> row = Pixels(gx + 1, top + 1, gx + gw - 2, top + 1);
        auto firstEmpty = std::find_if(row.begin(), row.end(),
                                       [&](UBYTE pixel) { return pixel != pens[FILLPEN]; });
        long filled = firstEmpty - row.begin();
        EXPECT_NEAR(double(filled), double(row.size()) * percentage / 100, 1.5);
        EXPECT_EQ(std::count(firstEmpty, row.end(), UBYTE(pens[FILLPEN])), 0)
            << "the bar has a gap";
        EXPECT_EQ(Pixel(gx, top + gh / 2), pens[SHADOWPEN]);
        /* A full bar reaches over the right edge. */
        EXPECT_EQ(Pixel(gx + gw - 1, top + gh / 2),
                  percentage == 100 ? pens[FILLPEN] : pens[SHINEPEN]);

        std::string label = std::to_string(percentage) + " %";
        bool labelShown = false;
        for (const TextRun &run : Model().texts)
            labelShown |= run.baseline > top && run.baseline < top + gh &&
                          run.bytes.find(label) != std::string::npos;
        EXPECT_TRUE(labelShown) << label;
    }
};

TEST_F(GaugeDrawing, BothGaugesRisingAndFalling)
{
    /* A lower percentage after a higher one leaves nothing of the longer bar. */
    for (int percentage : {0, 37, 100, 50, 0}) {
        DrawGauge(percentage, 0);
        DrawGauge(100 - percentage, 1);
        ExpectGauge(percentage, 0);
        ExpectGauge(100 - percentage, 1);
    }
}

} // namespace

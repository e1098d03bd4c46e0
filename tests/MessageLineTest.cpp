#include <algorithm>
#include <string>

#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/ModelWindow.h"

namespace {

/* The message line, 36 characters wide. Each expectation compares the band
   with the band of a fresh window that shows the text that must remain. */
class MessageLine : public StandardWindowTest {
protected:
    std::vector<UBYTE> Band()
    {
        return Pixels(gx - 1, window->BorderTop, gx + gw + 1,
                      window->BorderTop + Model().rastPort.TxHeight + 4);
    }

    /* The band that text alone gives on a newly opened window. */
    std::vector<UBYTE> BandOf(const std::string &text, int flag)
    {
        CloseInterface();
        EXPECT_EQ(InitInterface(), 1);
        UpdateMessage(text.c_str(), flag);
        return Band();
    }

    const std::string longName = "archive/folder/subfolder/a-rather-long-file-name-0123456789.txt";
};

TEST_F(MessageLine, ProgressLineKeepsTheEndOfALongName)
{
    ASSERT_GT(longName.size(), 36u);
    UpdateMessage(longName.c_str(), 0);
    std::vector<UBYTE> drawn = Band();
    EXPECT_EQ(drawn, BandOf(longName.substr(longName.size() - 36), 0));
    EXPECT_NE(drawn, BandOf(longName.substr(longName.size() - 35), 0));
}

TEST_F(MessageLine, ErrorLineKeepsTheStartOfALongMessage)
{
    UpdateMessage(longName.c_str(), 1);
    std::vector<UBYTE> drawn = Band();
    EXPECT_EQ(drawn, BandOf(longName.substr(0, 36), 1));
    EXPECT_NE(drawn, BandOf(longName.substr(0, 35), 1));
}

TEST_F(MessageLine, ProgressInTextPenErrorInHighlightPen)
{
    UpdateMessage("docs/readme", 0);
    std::vector<UBYTE> progress = Band();
    UpdateMessage("docs/readme", 1);
    std::vector<UBYTE> error = Band();
    auto pensIn = [](const std::vector<UBYTE> &band) {
        std::vector<UBYTE> found;
        for (UBYTE pixel : band)
            if (std::find(found.begin(), found.end(), pixel) == found.end())
                found.push_back(pixel);
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(pensIn(progress), (std::vector<UBYTE>{0, UBYTE(pens[TEXTPEN])}));
    EXPECT_EQ(pensIn(error), (std::vector<UBYTE>{0, UBYTE(pens[HIGHLIGHTTEXTPEN])}));
    EXPECT_EQ(Model().rastPort.DrawMode, JAM2);
}

TEST_F(MessageLine, ShorterTextErasesTheLongerOneAndTheColumnPastTheWidth)
{
    struct RastPort *rp = window->RPort;
    LONG bandBottom = window->BorderTop + rp->TxHeight + 4;
    IGraphics->SetAPen(rp, 3);
    IGraphics->RectFill(rp, gx, window->BorderTop, gx + gw + 1, bandBottom);
    UpdateMessage(longName.c_str(), 0);
    UpdateMessage("a", 0);
    for (LONG row = window->BorderTop; row <= bandBottom; row++) {
        EXPECT_EQ(Pixel(gx + gw, row), 0) << row;
        EXPECT_EQ(Pixel(gx + gw + 1, row), 3) << "outside the band, " << row;
    }
    std::vector<UBYTE> drawn = Band();
    drawn.erase(drawn.begin()); /* the column left of gx held the fill */
    std::vector<UBYTE> fresh = BandOf("a", 0);
    fresh.erase(fresh.begin());
    /* Equal apart from the column at gx + gw + 1 that the band leaves alone. */
    size_t width = size_t(gw) + 3;
    for (size_t i = width - 2; i < drawn.size(); i += width)
        drawn[i] = fresh[i];
    EXPECT_EQ(drawn, fresh);
}

TEST_F(MessageLine, EmptyTextLeavesTheBandBlank)
{
    UpdateMessage(longName.c_str(), 0);
    for (int flag : {0, 1}) {
        UpdateMessage("", flag);
        for (UBYTE pixel : Band())
            EXPECT_EQ(pixel, 0);
    }
}

}  // namespace

#include <algorithm>
#include <string>

#include "../platform/window/Font.h"
#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/ModelWindow.h"

namespace
{

/* The message line, 36 characters wide. Each expectation compares the band
   with the band of a fresh window that shows the text that must remain. */
class MessageLine : public StandardWindowTest
{
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

/* Names as a person reads them: each UTF-8 character one cell, cut only
   between characters; bytes that are no printable character shown as the
   four cells of their escape. */
class MessageLineText : public MessageLine
{
  protected:
    /* The text last drawn on the message line, and where its pen ended. */
    /* The message line's text: the last drawn outside the title bar and the button (an error
       line's pause redraws the button, whose label then comes last). */
    const TextRun &LastRun()
    {
        HostWindow &model = Model();
        for (auto run = model.texts.rbegin(); run != model.texts.rend(); ++run)
            if (run->baseline > model.BorderTop &&
                FindGadgetAt(model, run->x, run->baseline - 1) == nullptr)
                return *run;
        return model.texts.back();
    }

    std::string Repeat(const std::string &piece, size_t times)
    {
        std::string text;
        while (times-- > 0)
            text += piece;
        return text;
    }

    /* Whether the cell at column (counted from gx) shows the glyph. */
    bool CellShows(int column, const unsigned char *glyph)
    {
        struct RastPort *rp = window->RPort;
        LONG top = window->BorderTop + rp->TxHeight - rp->TxBaseline + (rp->TxHeight - FONT_ROWS);
        for (int row = 0; row < FONT_ROWS; row++)
            for (int x = 0; x < FONT_WIDTH; x++) {
                bool set = glyph[row] & (0x80 >> x);
                if ((Pixel(gx + column * FONT_WIDTH + x, top + row) != 0) != set)
                    return false;
            }
        return true;
    }
};

TEST_F(MessageLineText, Utf8NameTakesOneCellPerCharacter)
{
    const std::string name = "\xC3\xBCn\xC3\xAF\xD0\x96\xE5\x90\x8D"; /* ünïЖ名 */
    UpdateMessage(name.c_str(), 0);
    EXPECT_EQ(LastRun().bytes, name);
    EXPECT_EQ(LastRun().width, 5 * FONT_WIDTH);
    EXPECT_TRUE(CellShows(0, GetCharacterGlyph(0xFC))) << "u with diaeresis, the font's own glyph";
    EXPECT_TRUE(CellShows(1, GetCharacterGlyph('n')));
    EXPECT_TRUE(CellShows(2, GetCharacterGlyph(0xEF)));
    EXPECT_TRUE(CellShows(4, GetCharacterGlyph(0x540D))) << "no glyph: the replacement mark";
    EXPECT_NE(GetCharacterGlyph(0x540D), GetCharacterGlyph(0xFC));
    if (FindFallbackGlyph(0x416) == nullptr)
        GTEST_SKIP() << "the fallback font needs GNU Unifont (Debian package unifont)";
    EXPECT_TRUE(CellShows(3, FindFallbackGlyph(0x416))) << "Zhe, from the fallback font";
    EXPECT_FALSE(CellShows(3, GetCharacterGlyph(0x540D)));
}

TEST_F(MessageLineText, CutsFallBetweenCharactersAtEitherEnd)
{
    /* "a" then 40 three-byte characters: 36 cells fit. */
    const std::string wide = "\xE5\x90\x8D";
    const std::string text = std::string(1, 'a').append(Repeat(wide, 40));
    UpdateMessage(text.c_str(), 0);
    EXPECT_EQ(LastRun().bytes, Repeat(wide, 36)) << "the last 36 characters, whole";
    UpdateMessage(text.c_str(), 1);
    EXPECT_EQ(LastRun().bytes, std::string(1, 'a').append(Repeat(wide, 35)))
        << "the first 36 characters, whole";
    EXPECT_EQ(LastRun().width, 36 * FONT_WIDTH);
}

TEST_F(MessageLineText, ControlAndMalformedBytesShowEscapedAndAreNeverSplit)
{
    /* A lone continuation byte, a byte that starts nothing, a control byte. */
    UpdateMessage("x\x80y\xFF\x01z", 0);
    std::vector<UBYTE> drawn = Band();
    EXPECT_EQ(drawn, BandOf("x\\x80y\\xff\\x01z", 0));
    /* Ten escapes take 40 cells: nine fit whole, from either end. */
    const std::string controls = Repeat("\x02", 10);
    UpdateMessage(controls.c_str(), 0);
    drawn = Band();
    EXPECT_EQ(drawn, BandOf(Repeat("\\x02", 9), 0));
    UpdateMessage(controls.c_str(), 1);
    drawn = Band();
    EXPECT_EQ(drawn, BandOf(Repeat("\\x02", 9), 1));
}

} // namespace

#include <mutex>
#include <random>
#include <string>

#include "../platform/window/Raster.h"
#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/ModelWindow.h"

namespace
{

/* The window's drawing is queued and put into pixels late, with what later
   drawing covers left out; the pixels and text runs must come out as if
   every call had been drawn at once. */
class DrawingQueue : public StandardWindowTest
{
  protected:
    /* A window of the same size drawn at once, starting from the progress
       window's present state. */
    HostWindow &OpenReference()
    {
        HostWindow &model = Model();
        reference_ = CreateHostWindow(*model.screen, 0, 0, 10, 10, nullptr, 0, 0);
        reference_->Width = model.Width;
        reference_->Height = model.Height;
        reference_->pixels = model.pixels;
        reference_->texts = model.texts;
        reference_->rastPort.TxHeight = model.rastPort.TxHeight;
        reference_->rastPort.TxBaseline = model.rastPort.TxBaseline;
        return *reference_;
    }

    void TearDown() override
    {
        if (reference_ != nullptr)
            DestroyHostWindow(reference_);
        StandardWindowTest::TearDown();
    }

    void ExpectSameAsReference(const std::string &when)
    {
        HostWindow &model = Model();
        ASSERT_EQ(model.pixels, reference_->pixels) << when;
        ASSERT_EQ(model.texts.size(), reference_->texts.size()) << when;
        for (size_t i = 0; i < model.texts.size(); i++) {
            const TextRun &shown = model.texts[i], &expected = reference_->texts[i];
            EXPECT_EQ(shown.x, expected.x) << when;
            EXPECT_EQ(shown.baseline, expected.baseline) << when;
            EXPECT_EQ(shown.bytes, expected.bytes) << when;
            EXPECT_EQ(shown.width, expected.width) << when;
        }
    }

    HostWindow *reference_ = nullptr;
};

/* Random calls, many of them over the same few parts of the window as a
   run's gauges and message line, in every draw mode and pen, some texts
   with bytes beyond ASCII; compared at random moments, long enough for the
   queue to be cut down and flushed on its own many times. */
TEST_F(DrawingQueue, EndsAsIfEveryCallWereDrawnAtOnce)
{
    HostWindow &reference = OpenReference();
    struct RastPort *rp = window->RPort;
    std::mt19937 random(18);
    auto pick = [&](int low, int high) { return int(random() % unsigned(high - low + 1)) + low; };
    const LONG parts[][4] = {{7, 11, 301, 23}, {8, 35, 299, 45},   {8, 51, 299, 61},
                             {7, 34, 300, 46}, {300, 34, 300, 46}, {7, 46, 300, 46},
                             {8, 35, 154, 45}};
    const char *words[] = {
        "d042/f01234.txt",          " 50 %          ", "Preparing a name that is long enough",
        "caf\xc3\xa9 \xe2\x80\xae", "\x01\x7f",        "100 %          "};
    LONG x = 0, y = 0;
    UBYTE pen = rp->FgPen, mode = rp->DrawMode;
    for (int call = 0; call < 20000; call++) {
        int choice = pick(0, 9);
        LONG x0, y0, x1, y1;
        if (pick(0, 3) != 0) {
            const LONG *part = parts[pick(0, 6)];
            x0 = part[0], y0 = part[1], x1 = part[2], y1 = part[3];
        } else {
            x0 = pick(-20, 340), y0 = pick(-20, 120);
            x1 = x0 + pick(0, 60), y1 = y0 + pick(0, 30);
        }
        switch (choice) {
        case 0:
            pen = UBYTE(pick(0, 7));
            IGraphics->SetAPen(rp, pen);
            break;
        case 1:
            mode = UBYTE(pick(0, 2) == 2 ? COMPLEMENT : pick(0, 1) ? JAM2 : JAM1);
            IGraphics->SetDrMd(rp, mode);
            break;
        case 2:
            IGraphics->EraseRect(rp, x0, y0, x1, y1);
            FillPixels(reference, x0, y0, x1, y1, 0, JAM1);
            break;
        case 3:
        case 4:
            IGraphics->RectFill(rp, x0, y0, x1, y1);
            FillPixels(reference, x0, y0, x1, y1, pen, mode);
            break;
        case 5:
        case 6: {
            bool straight = pick(0, 4) != 0;
            IGraphics->Move(rp, x0, y0);
            x = straight && pick(0, 1) ? x0 : x1;
            y = straight && x != x0 ? y0 : y1;
            IGraphics->Draw(rp, x, y);
            DrawLinePixels(reference, x0, y0, x, y, pen, mode);
            break;
        }
        default: {
            const char *word = words[pick(0, 5)];
            std::string text(word, size_t(pick(0, int(std::char_traits<char>::length(word)))));
            x = pick(0, 3) ? x0 : pick(-10, 330);
            y = pick(0, 3) ? y0 + 7 : pick(-5, 110);
            IGraphics->Move(rp, x, y);
            IGraphics->Text(rp, text.data(), ULONG(text.size()));
            if (!text.empty())
                DrawTextPixels(reference, x, y, text.data(), ULONG(text.size()),
                               {rp->TxHeight, rp->TxBaseline, pen, rp->BgPen, mode});
            break;
        }
        }
        if (pick(0, 500) == 0)
            ExpectSameAsReference("after call " + std::to_string(call));
    }
    ExpectSameAsReference("at the end");
}

/* A presentation reads the window as the program left it at its last text:
   a message line erased and not yet rewritten is not shown erased. */
TEST_F(DrawingQueue, APresentationSeesTheWindowAsItStoodAfterTheLastText)
{
    UpdateMessage("first.txt", 0);
    struct RastPort *rp = window->RPort;
    IGraphics->EraseRect(rp, gx, window->BorderTop, gx + gw, window->BorderTop + rp->TxHeight + 4);
    IGraphics->TextFit(rp, "second.txt", 10, nullptr, nullptr, 1, gw, gh);
    HostWindow &model = *static_cast<HostWindow *>(window);
    {
        std::lock_guard<std::recursive_mutex> guard(GetModelLock());
        FlushDrawing(model);
        ASSERT_FALSE(model.texts.empty());
        EXPECT_EQ(model.texts.back().bytes, "first.txt");
        EXPECT_EQ(model.laidOutText, "first.txt");
    }
    IGraphics->Move(rp, gx, window->BorderTop + rp->TxHeight);
    IGraphics->Text(rp, "second.txt", 10);
    {
        std::lock_guard<std::recursive_mutex> guard(GetModelLock());
        FlushDrawing(model);
        EXPECT_EQ(model.texts.back().bytes, "second.txt");
        EXPECT_EQ(model.laidOutText, "second.txt");
    }
}

} // namespace

#include "ModelWindow.h"

#include "../../platform/host/HostControls.h"
#include "../../platform/window/Raster.h"
#include "../../progress/ProgressWindow.h"
#include "../../progress/progress.h"

void ModelWindowTest::SetUp()
{
    HostControls &controls = GetHostControls();
    controls.presentation = "headless";
    controls.instantClock = true;
    controls.failingCalls = nullptr;
    controls.installerScreen = {};
    controls.answer = nullptr;
    UseScreen(640, 256);
}

void ModelWindowTest::TearDown()
{
    CloseInterface();
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(glist, nullptr);
    EXPECT_EQ(vis, nullptr);
    EXPECT_EQ(hostObjects.screenLocks, 0u);
    EXPECT_EQ(hostObjects.drawInfos, 0u);
    EXPECT_EQ(hostObjects.windows, 0u);
    EXPECT_EQ(hostObjects.gadgets, 0u);
    EXPECT_EQ(hostObjects.visualInfos, 0u);
    EXPECT_EQ(hostObjects.messages, 0u);
    EXPECT_EQ(hostObjects.refreshesBegun, hostObjects.refreshesEnded);
}

void ModelWindowTest::UseScreen(long width, long height, long fontHeight)
{
    GetHostControls().screen = {true, width, height, fontHeight};
}

void ModelWindowTest::OpenProgressWindow()
{
    ASSERT_EQ(InitInterface(), 1);
    ASSERT_NE(window, nullptr);
}

HostWindow &ModelWindowTest::Model()
{
    /* Everything drawn so far put into pixels, as a presentation reads it. */
    HostWindow &model = *static_cast<HostWindow *>(window);
    FinishDrawing(model);
    return model;
}

UBYTE ModelWindowTest::Pixel(LONG x, LONG y)
{
    return GetPixel(Model(), x, y);
}

std::vector<UBYTE> ModelWindowTest::Pixels(LONG xMin, LONG yMin, LONG xMax, LONG yMax)
{
    return ReadPixels(Model(), xMin, yMin, xMax, yMax);
}

void StandardWindowTest::SetUp()
{
    ModelWindowTest::SetUp();
    UseScreen(900, 256);
    OpenProgressWindow();
    ASSERT_EQ(gx, 7);
    ASSERT_EQ(gy, 34);
    ASSERT_EQ(gw, 294);
    ASSERT_EQ(gh, 12);
}

std::vector<UBYTE> ReadPixels(const HostWindow &window, LONG xMin, LONG yMin, LONG xMax, LONG yMax)
{
    std::vector<UBYTE> pixels;
    for (LONG y = yMin; y <= yMax; y++)
        for (LONG x = xMin; x <= xMax; x++)
            pixels.push_back(GetPixel(window, x, y));
    return pixels;
}

#ifndef TESTS_SUPPORT_MODEL_WINDOW_H
#define TESTS_SUPPORT_MODEL_WINDOW_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../platform/window/HostModel.h"

/* Runs the progress window's code in this process on the platform's model:
   no presentation, an instant clock, and a default public screen of the
   given size. TearDown closes whatever is open and checks that every
   screen lock, window, gadget, visual info and message was given back. */
class ModelWindowTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    /* Makes the default public screen WIDTHxHEIGHT with an fh-line font;
       takes effect at the next LockPubScreen. */
    void UseScreen(long width, long height, long fontHeight = 8);

    /* Opens the progress window, failing the test if it cannot. */
    void OpenProgressWindow();

    HostWindow &Model();
    UBYTE Pixel(LONG x, LONG y);
    /* The pixels of the inclusive rectangle, row after row. */
    std::vector<UBYTE> Pixels(LONG xMin, LONG yMin, LONG xMax, LONG yMax);
};

/* The progress window open on a 900-pixel screen with an 8-line font:
   gx 7, gy 34, gw 294 (room for 36 characters), gh 12. */
class StandardWindowTest : public ModelWindowTest
{
  protected:
    void SetUp() override;
};

/* The inclusive rectangle's pixels, row after row, of any model window. */
std::vector<UBYTE> ReadPixels(const HostWindow &window, LONG xMin, LONG yMin, LONG xMax, LONG yMax);

#endif

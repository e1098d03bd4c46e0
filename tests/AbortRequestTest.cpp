#include "../platform/host/HostControls.h"
#include "../progress/ProgressWindow.h"
#include "../progress/progress.h"
#include "support/ModelWindow.h"

namespace
{

/* UpdatePercentage's look at the window's queue. The headless presentation
   answers the request with the button that the host control names. */
class AbortRequest : public ModelWindowTest
{
  protected:
    void SetUp() override
    {
        ModelWindowTest::SetUp();
        OpenProgressWindow();
        requestsBefore = hostObjects.requestsShown;
    }

    void Queue(ULONG messageClass)
    {
        QueueIntuiMessage(Model(), messageClass, static_cast<HostGadget *>(gad));
    }

    unsigned RequestsShown() const { return hostObjects.requestsShown - requestsBefore; }

    unsigned requestsBefore = 0;
};

TEST_F(AbortRequest, NothingWaitingGoesOnAndDrawsBothGauges)
{
    EXPECT_EQ(UpdatePercentage(30, 60), 1);
    EXPECT_EQ(RequestsShown(), 0u);
    LONG fileRow = gy + 1, totalRow = gy + gh + 5;
    EXPECT_EQ(Pixel(gx + (gw - 1) * 60 / 100, fileRow), pens[FILLPEN]);
    EXPECT_EQ(Pixel(gx + (gw - 1) * 60 / 100 + 1, fileRow), 0);
    EXPECT_EQ(Pixel(gx + (gw - 1) * 30 / 100, totalRow), pens[FILLPEN]);
    EXPECT_EQ(Pixel(gx + (gw - 1) * 30 / 100 + 1, totalRow), 0);
}

TEST_F(AbortRequest, OtherMessagesAreRepliedAndIgnored)
{
    Queue(0x200);
    Queue(IDCMP_REFRESHWINDOW);
    EXPECT_EQ(UpdatePercentage(10, 10), 1);
    EXPECT_EQ(RequestsShown(), 0u);
    EXPECT_EQ(hostObjects.messages, 0u);
    EXPECT_EQ(hostObjects.refreshesBegun, 1u);
}

TEST_F(AbortRequest, TwoPressesAskOnceAndNoGoesOn)
{
    Queue(IDCMP_GADGETUP);
    Queue(IDCMP_GADGETUP);
    Queue(0x200);
    GetHostControls().answer = "No";
    EXPECT_EQ(UpdatePercentage(10, 10), 1);
    EXPECT_EQ(RequestsShown(), 1u);
    EXPECT_EQ(hostObjects.messages, 0u) << "the queue is drained to its end";
    EXPECT_EQ(UpdatePercentage(20, 20), 1) << "a press answered with No is gone";
    EXPECT_EQ(RequestsShown(), 1u);
}

TEST_F(AbortRequest, TwoPressesAskOnceAndYesAborts)
{
    Queue(IDCMP_GADGETUP);
    Queue(IDCMP_GADGETUP);
    GetHostControls().answer = "Yes";
    EXPECT_EQ(UpdatePercentage(10, 10), 0);
    EXPECT_EQ(RequestsShown(), 1u);
    EXPECT_EQ(hostObjects.messages, 0u);
}

TEST_F(AbortRequest, RequestCountsButtonsFromTheLeftWithTheRightmostZero)
{
    for (auto [answer, expected] :
         {std::pair<const char *, LONG>{"Yes", 1}, {"Maybe", 2}, {"No", 0}}) {
        GetHostControls().answer = answer;
        EXPECT_EQ(MessageBox("Question", "Go on?", "Yes|Maybe|No"), expected) << answer;
    }
    EXPECT_EQ(hostObjects.windows, 1u) << "the request window is gone again";
}

} // namespace

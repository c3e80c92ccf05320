// The round (pie and ring) and bar progress indicators: defaults, self-observation and what they
// draw.

#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/VHBarProgressView.h"
#include "controls/VHRoundProgressView.h"
#include "foundation/NSProcessInfo.h"

using controlstest::render;

namespace {

// The fill of the pie track: white at alpha 0.1.
constexpr int kTrackAlpha = 26;

}  // namespace

TEST(VHRoundProgressViewTest, DefaultsAndFrame) {
    auto view = make<VHRoundProgressView>();
    EXPECT_EQ(view->frame(), CGRectMake(0, 0, 37, 37));
    EXPECT_EQ(view->progress(), 0);
    EXPECT_FALSE(view->isAnnular());
    EXPECT_TRUE(view->progressTintColor()->isEqual(*UIColor::colorWithWhite(1, 1)));
    EXPECT_TRUE(view->backgroundTintColor()->isEqual(*UIColor::colorWithWhite(1, 0.1)));
    EXPECT_FALSE(view->isOpaque());
    EXPECT_TRUE(view->backgroundColor()->isEqual(*UIColor::clearColor()));
    auto framed = make<VHRoundProgressView>(CGRectMake(5, 5, 50, 50));
    EXPECT_EQ(framed->frame(), CGRectMake(5, 5, 50, 50));
}

TEST(VHRoundProgressViewTest, EveryObservedPropertyRedrawsEvenWithTheSameValue) {
    auto view = make<VHRoundProgressView>();
    auto settle = [&] {
        view->displayNow();
        ASSERT_FALSE(view->needsDisplay());
    };
    settle();
    view->setProgress(0);
    EXPECT_TRUE(view->needsDisplay());
    settle();
    view->setAnnular(false);
    EXPECT_TRUE(view->needsDisplay());
    settle();
    view->setProgressTintColor(UIColor::redColor());
    EXPECT_TRUE(view->needsDisplay());
    settle();
    view->setBackgroundTintColor(UIColor::blueColor());
    EXPECT_TRUE(view->needsDisplay());
    EXPECT_EQ(view->valueForKey("progress").floatValue(), 0);
    EXPECT_EQ(view->valueForKey("annular").boolValue(), false);
}

TEST(VHRoundProgressViewTest, PieAtZeroDrawsTrackAndOutline) {
    auto view = make<VHRoundProgressView>();
    auto image = render(view);
    EXPECT_PX(image, 18, 18, 255, 255, 255, kTrackAlpha);  // track
    EXPECT_PX(image, 2, 18, 255, 255, 255, 255);           // outline at the left
    EXPECT_PX(image, 0, 0, 0, 0, 0, 0);                    // outside the circle
}

TEST(VHRoundProgressViewTest, PieFillsClockwiseFromTwelve) {
    auto view = make<VHRoundProgressView>();
    view->setProgress(0.25f);
    auto image = render(view);
    EXPECT_PX(image, 26, 11, 255, 255, 255, 255);          // top right: filled
    EXPECT_PX(image, 11, 26, 255, 255, 255, kTrackAlpha);  // bottom left: track
    EXPECT_PX(image, 11, 11, 255, 255, 255, kTrackAlpha);  // top left: track
    view->setProgress(1);
    image = render(view);
    EXPECT_PX(image, 11, 26, 255, 255, 255, 255);
    EXPECT_PX(image, 11, 11, 255, 255, 255, 255);
}

TEST(VHRoundProgressViewTest, RingIsTwoPointsWideOnCurrentSystems) {
    ASSERT_GE(kCFCoreFoundationVersionNumber, 847.2);
    auto view = make<VHRoundProgressView>();
    view->setAnnular(true);
    view->setProgress(0.5f);
    auto image = render(view);
    EXPECT_PX(image, 35, 18, 255, 255, 255, 255);         // right half: progress arc
    EXPECT_PX(image, 1, 18, 255, 255, 255, kTrackAlpha);  // left half: track
    EXPECT_PX(image, 18, 18, 0, 0, 0, 0);                 // hollow centre
    EXPECT_PX(image, 31, 18, 0, 0, 0, 0);                 // inside the 2-point line
}

TEST(VHRoundProgressViewTest, RingIsWiderBeforeCurrentSystems) {
    double saved = kCFCoreFoundationVersionNumber;
    kCFCoreFoundationVersionNumber = 793.0;
    auto view = make<VHRoundProgressView>();
    view->setAnnular(true);
    view->setProgress(0.5f);
    auto image = render(view);
    kCFCoreFoundationVersionNumber = saved;
    EXPECT_PX(image, 33, 18, 255, 255, 255, 255);  // within the 5-point line
    EXPECT_PX(image, 3, 18, 255, 255, 255, kTrackAlpha);
}

TEST(VHBarProgressViewTest, EveryObservedPropertyRedraws) {
    auto bar = make<VHBarProgressView>();
    for (int i = 0; i < 4; ++i) {
        bar->displayNow();
        ASSERT_FALSE(bar->needsDisplay());
        switch (i) {
            case 0:
                bar->setProgress(bar->progress());
                break;
            case 1:
                bar->setLineColor(UIColor::redColor());
                break;
            case 2:
                bar->setProgressColor(UIColor::redColor());
                break;
            case 3:
                bar->setProgressRemainingColor(UIColor::redColor());
                break;
        }
        EXPECT_TRUE(bar->needsDisplay()) << i;
    }
}

TEST(VHBarProgressViewTest, AtZeroOnlyOutlineAndTrack) {
    auto bar = make<VHBarProgressView>();
    auto image = render(bar);
    EXPECT_PX(image, 60, 2, 255, 255, 255, 255);  // top edge of the outline
    EXPECT_PX(image, 60, 10, 0, 0, 0, 0);         // clear track inside
    EXPECT_PX(image, 6, 10, 0, 0, 0, 0);
}

TEST(VHBarProgressViewTest, SmallProgressFillsTheWholeLeftCap) {
    auto bar = make<VHBarProgressView>();
    bar->setProgress(1.0f / 120);  // a = 1, below q + 4 = 10
    auto image = render(bar);
    EXPECT_PX(image, 8, 10, 255, 255, 255, 255);
    EXPECT_PX(image, 12, 10, 0, 0, 0, 0);
}

TEST(VHBarProgressViewTest, MiddleProgressEndsInAStraightEdge) {
    auto bar = make<VHBarProgressView>();
    bar->setProgress(0.5f);  // x = 60
    auto image = render(bar);
    EXPECT_PX(image, 30, 10, 255, 255, 255, 255);
    EXPECT_PX(image, 58, 6, 255, 255, 255, 255);
    EXPECT_PX(image, 59, 14, 255, 255, 255, 255);
    EXPECT_PX(image, 61, 10, 0, 0, 0, 0);
    EXPECT_PX(image, 90, 10, 0, 0, 0, 0);
}

TEST(VHBarProgressViewTest, LargeProgressFollowsTheRightCap) {
    auto bar = make<VHBarProgressView>();
    bar->setProgress(115.0f / 120);  // inside the right cap
    auto image = render(bar);
    EXPECT_PX(image, 100, 10, 255, 255, 255, 255);
    EXPECT_PX(image, 113, 10, 255, 255, 255, 255);
    EXPECT_PX(image, 111, 5, 255, 255, 255, 255);
    bar->setProgress(1);
    image = render(bar);
    EXPECT_PX(image, 114, 10, 255, 255, 255, 255);
}

TEST(VHBarProgressViewTest, ProgressBeyondOneStaysInsideTheOutline) {
    auto bar = make<VHBarProgressView>();
    bar->setProgress(3);  // arccos out of its domain: angle 0
    auto image = render(bar);
    EXPECT_PX(image, 60, 10, 255, 255, 255, 255);
    bar->setProgress(-1);
    image = render(bar);
    EXPECT_PX(image, 60, 10, 0, 0, 0, 0);
}

// Scroll views: offset as bounds origin, observation with old and new values, the delegate in the
// platform's order while dragging, deceleration, paging and animated moves on the manual clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "graphics/NSValue+Geometry.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace {

using testsupport::ManualClock;

std::string str(CGPoint p) {
    return NSStringFromCGPoint(p);
}

CGPoint pointOf(const Value& v) {
    return NSValue_Geometry::CGPointValue(v.objectAs<NSValue>());
}

// Records every delegate call with the state flags it saw.
class RecordingDelegate : public NSObject, public UIScrollViewDelegate {
  public:
    std::vector<std::string> log;
    std::optional<CGPoint> overrideTarget;
    CGPoint lastVelocity{};
    std::optional<bool> allowScrollToTop;

    std::string flags(UIScrollView& s) {
        return std::string(s.isTracking() ? "T" : "-") + (s.isDragging() ? "D" : "-") +
               (s.isDecelerating() ? "E" : "-");
    }
    void scrollViewDidScroll(UIScrollView& s) override {
        log.push_back("scroll " + str(s.contentOffset()) + " " + flags(s));
    }
    void scrollViewWillBeginDragging(UIScrollView& s) override { log.push_back("willBegin " + flags(s)); }
    void scrollViewWillEndDragging(UIScrollView& s, CGPoint velocity, CGPoint* target) override {
        lastVelocity = velocity;
        log.push_back("willEnd " + str(*target) + " " + flags(s));
        if (overrideTarget) *target = *overrideTarget;
    }
    void scrollViewDidEndDragging(UIScrollView& s, bool decelerate) override {
        log.push_back(std::string("didEnd ") + (decelerate ? "decelerate " : "stop ") + flags(s));
    }
    void scrollViewWillBeginDecelerating(UIScrollView& s) override {
        log.push_back("willDecelerate " + flags(s));
    }
    void scrollViewDidEndDecelerating(UIScrollView& s) override {
        log.push_back("didDecelerate " + str(s.contentOffset()) + " " + flags(s));
    }
    void scrollViewDidEndScrollingAnimation(UIScrollView& s) override {
        log.push_back("didEndAnimation " + str(s.contentOffset()));
    }
    std::optional<bool> scrollViewShouldScrollToTop(UIScrollView&) override { return allowScrollToTop; }
    void scrollViewDidScrollToTop(UIScrollView&) override { log.push_back("didScrollToTop"); }

    std::vector<std::string> only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (auto& l : log) {
            if (l.rfind(prefix, 0) == 0) out.push_back(l);
        }
        return out;
    }
};

class ScrollViewTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        scroll = make<UIScrollView>(CGRectMake(0, 0, 320, 480));
        scroll->setContentSize(CGSizeMake(320, 2000));
        delegate = make<RecordingDelegate>();
        scroll->setDelegate(delegate);
    }
    Ref<UIScrollView> scroll;
    Ref<RecordingDelegate> delegate;
};

TEST_F(ScrollViewTest, ContentOffsetIsTheBoundsOrigin) {
    auto container = make<UIView>(CGRectMake(0, 0, 320, 480));
    container->addSubview(scroll);
    auto child = make<UIView>(CGRectMake(0, 100, 10, 10));
    scroll->addSubview(child);
    scroll->setContentOffset(CGPointMake(0, 60));
    EXPECT_RECT(scroll->bounds(), 0, 60, 320, 480);
    EXPECT_RECT(scroll->frame(), 0, 0, 320, 480);
    // The child moves up on screen by the offset.
    EXPECT_POINT(child->convertPointToView(CGPointZero, container), 0, 40);
    scroll->setBounds(CGRectMake(0, 10, 320, 480));
    EXPECT_POINT(scroll->contentOffset(), 0, 10);
    EXPECT_EQ(delegate->only("scroll").size(), 2u);
}

TEST_F(ScrollViewTest, EverySetAnnouncesTheOffsetWithOldAndNewValues) {
    std::vector<std::pair<CGPoint, CGPoint>> changes;
    auto token =
        KVO::observe(*scroll, "contentOffset", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld,
                     [&](const Ref<NSObject>&, const Dictionary& change) {
                         changes.push_back({pointOf(change[NSKeyValueChangeOldKey]),
                                            pointOf(change[NSKeyValueChangeNewKey])});
                     });
    scroll->setContentOffset(CGPointMake(0, 30));
    scroll->setContentOffset(CGPointMake(0, 30));  // unchanged: announced, but no didScroll
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_POINT(changes[0].first, 0, 0);
    EXPECT_POINT(changes[0].second, 0, 30);
    EXPECT_POINT(changes[1].first, 0, 30);
    EXPECT_POINT(changes[1].second, 0, 30);
    EXPECT_EQ(delegate->only("scroll").size(), 1u);
}

TEST_F(ScrollViewTest, ContentSizeAndInsetAreObservable) {
    std::vector<std::string> seen;
    auto sizeToken = KVO::observe(
        *scroll, "contentSize", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld,
        [&](const Ref<NSObject>&, const Dictionary& change) {
            auto oldSize = NSValue_Geometry::CGSizeValue(change[NSKeyValueChangeOldKey].objectAs<NSValue>());
            auto newSize = NSValue_Geometry::CGSizeValue(change[NSKeyValueChangeNewKey].objectAs<NSValue>());
            seen.push_back("size " + NSStringFromCGSize(oldSize) + " " + NSStringFromCGSize(newSize));
        });
    auto insetToken = KVO::observe(*scroll, "contentInset", NSKeyValueObservingOptionNew,
                                   [&](const Ref<NSObject>&, const Dictionary& change) {
                                       auto inset = NSValue_Geometry::UIEdgeInsetsValue(
                                           change[NSKeyValueChangeNewKey].objectAs<NSValue>());
                                       seen.push_back("inset " + NSStringFromUIEdgeInsets(inset));
                                   });
    scroll->setContentSize(CGSizeMake(320, 900));
    scroll->setContentInset(UIEdgeInsetsMake(54, 0, 44, 0));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "size {320, 2000} {320, 900}");
    EXPECT_EQ(seen[1], "inset {54, 0, 44, 0}");
    // The inset does not move the offset by itself.
    EXPECT_POINT(scroll->contentOffset(), 0, 0);
}

TEST_F(ScrollViewTest, ScrollableRangeFollowsSizeAndInsets) {
    scroll->setContentInset(UIEdgeInsetsMake(54, 0, 44, 0));
    EXPECT_POINT(scroll->minimumContentOffset(), 0, -54);
    EXPECT_POINT(scroll->maximumContentOffset(), 0, 2000 - 480 + 44);
    scroll->setContentSize(CGSizeMake(320, 100));
    // Short content rests at the top.
    EXPECT_POINT(scroll->maximumContentOffset(), 0, -54);
}

TEST_F(ScrollViewTest, DragRunsInThePlatformOrderAndSpringsBack) {
    scroll->setAlwaysBounceVertical(true);
    ManualClock clock;
    ASSERT_TRUE(scroll->simulateBeginDragging());
    EXPECT_TRUE(scroll->isTracking());
    EXPECT_TRUE(scroll->isDragging());
    scroll->simulateDragBy(0, -30);
    scroll->simulateDragBy(0, -30);
    EXPECT_POINT(scroll->contentOffset(), 0, -60);  // no rubber band: exactly the drag
    scroll->simulateEndDragging();
    EXPECT_FALSE(scroll->isDragging());
    EXPECT_FALSE(scroll->isTracking());
    EXPECT_TRUE(scroll->isDecelerating());
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_FALSE(scroll->isDecelerating());
    EXPECT_POINT(scroll->contentOffset(), 0, 0);

    auto& log = delegate->log;
    ASSERT_GE(log.size(), 7u);
    EXPECT_EQ(log[0], "willBegin TD-");
    EXPECT_EQ(log[1], "scroll {0, -30} TD-");
    EXPECT_EQ(log[2], "scroll {0, -60} TD-");
    EXPECT_EQ(log[3], "willEnd {0, 0} -D-");
    EXPECT_EQ(log[4], "didEnd decelerate ---");
    EXPECT_EQ(log[5], "willDecelerate --E");
    // Spring-back steps are scroll events while decelerating, ending exactly at the rest.
    for (std::size_t i = 6; i + 1 < log.size(); ++i)
        EXPECT_NE(log[i].find("--E"), std::string::npos) << log[i];
    EXPECT_EQ(log.back(), "didDecelerate {0, 0} ---");
}

TEST_F(ScrollViewTest, ReleaseInsideTheRangeWithoutVelocityStops) {
    scroll->simulateDrag(0, 100);
    EXPECT_POINT(scroll->contentOffset(), 0, 100);
    EXPECT_FALSE(scroll->isDecelerating());
    EXPECT_EQ(delegate->only("didEnd").back(), "didEnd stop ---");
    EXPECT_TRUE(delegate->only("willDecelerate").empty());
}

TEST_F(ScrollViewTest, VelocityProjectsTheTargetAndTheDelegateMayMoveIt) {
    ManualClock clock;
    scroll->simulateBeginDragging();
    scroll->simulateDragBy(0, 100);
    scroll->simulateEndDragging(CGPointMake(0, 1000));
    EXPECT_DOUBLE_EQ(delegate->lastVelocity.y, 1.0);  // points per millisecond
    EXPECT_EQ(delegate->only("willEnd").back(), "willEnd {0, 400} -D-");
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 0, 400);

    delegate->overrideTarget = CGPointMake(0, 250);
    scroll->simulateBeginDragging();
    scroll->simulateEndDragging(CGPointMake(0, 5000));
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 0, 250);
    // The target stays inside the range.
    delegate->overrideTarget.reset();
    scroll->simulateBeginDragging();
    scroll->simulateEndDragging(CGPointMake(0, 1e6));
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 0, 2000 - 480);
}

TEST_F(ScrollViewTest, PagingSnapsToPagesInTheVelocityDirection) {
    ManualClock clock;
    scroll->setContentSize(CGSizeMake(320 * 4, 480));
    scroll->setPagingEnabled(true);
    scroll->simulateDrag(100, 0);  // less than half a page, no velocity: back to page 0
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 0, 0);
    scroll->simulateDrag(200, 0);  // past half: page 1
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 320, 0);
    scroll->simulateDrag(40, 0, 2, CGPointMake(300, 0));  // a flick: the next page
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 640, 0);
    scroll->simulateDrag(-40, 0, 2, CGPointMake(-300, 0));
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 320, 0);
    scroll->simulateDrag(2000, 0, 2, CGPointMake(300, 0));  // never past the last page
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_POINT(scroll->contentOffset(), 960, 0);
}

TEST_F(ScrollViewTest, AxesThatFitDoNotMoveUnlessAlwaysBouncing) {
    scroll->setContentSize(CGSizeMake(320, 200));
    scroll->simulateBeginDragging();
    scroll->simulateDragBy(50, -50);
    EXPECT_POINT(scroll->contentOffset(), 0, 0);
    scroll->simulateEndDragging(CGPointZero, false);
    scroll->setAlwaysBounceVertical(true);
    scroll->simulateBeginDragging();
    scroll->simulateDragBy(50, -50);
    EXPECT_POINT(scroll->contentOffset(), 0, -50);
    scroll->simulateEndDragging(CGPointZero, false);
    EXPECT_POINT(scroll->contentOffset(), 0, -50);  // no deceleration asked: stays out of range
}

TEST_F(ScrollViewTest, WithoutBouncingDragsStopAtTheEdges) {
    scroll->setBounces(false);
    scroll->simulateBeginDragging();
    scroll->simulateDragBy(0, -80);
    EXPECT_POINT(scroll->contentOffset(), 0, 0);
    scroll->simulateDragBy(0, 5000);
    EXPECT_POINT(scroll->contentOffset(), 0, 1520);
    scroll->simulateEndDragging();
}

TEST_F(ScrollViewTest, DirectionalLockKeepsTheFirstAxis) {
    scroll->setContentSize(CGSizeMake(1000, 2000));
    scroll->setDirectionalLockEnabled(true);
    scroll->simulateBeginDragging();
    scroll->simulateDragBy(2, 10);
    scroll->simulateDragBy(50, 5);
    EXPECT_POINT(scroll->contentOffset(), 0, 15);
    scroll->simulateEndDragging(CGPointZero, false);
}

TEST_F(ScrollViewTest, DisabledScrollingRefusesDrags) {
    scroll->setScrollEnabled(false);
    EXPECT_FALSE(scroll->simulateBeginDragging());
    scroll->simulateDragBy(0, 100);
    scroll->simulateEndDragging();
    EXPECT_POINT(scroll->contentOffset(), 0, 0);
    EXPECT_TRUE(delegate->log.empty());
    // Code may still set the offset.
    scroll->setContentOffset(CGPointMake(0, 10));
    EXPECT_POINT(scroll->contentOffset(), 0, 10);
}

TEST_F(ScrollViewTest, AnimatedOffsetMovesOnTheClockAndReportsItsEnd) {
    ManualClock clock;
    scroll->setContentOffset(CGPointZero, true);  // to the same offset: nothing to report
    clock.advance(1);
    EXPECT_TRUE(delegate->log.empty());
    scroll->setContentOffset(CGPointMake(0, 300), true);
    EXPECT_POINT(scroll->contentOffset(), 0, 0);
    EXPECT_TRUE(scroll->isScrollAnimating());
    clock.advance(UIScrollView::kScrollAnimationDuration / 2);
    const CGFloat midway = scroll->contentOffset().y;
    EXPECT_GT(midway, 0);
    EXPECT_LT(midway, 300);
    clock.advance(UIScrollView::kScrollAnimationDuration / 2);
    EXPECT_POINT(scroll->contentOffset(), 0, 300);
    EXPECT_FALSE(scroll->isScrollAnimating());
    EXPECT_EQ(delegate->only("didEndAnimation"), std::vector<std::string>{"didEndAnimation {0, 300}"});
    // The intermediate steps were each reported.
    EXPECT_GT(delegate->only("scroll").size(), 5u);
}

TEST_F(ScrollViewTest, ASetOrADragStopsAnAnimationSilently) {
    ManualClock clock;
    scroll->setContentOffset(CGPointMake(0, 300), true);
    clock.advance(0.1);
    scroll->setContentOffset(CGPointMake(0, 20));
    clock.advance(1);
    EXPECT_POINT(scroll->contentOffset(), 0, 20);
    EXPECT_TRUE(delegate->only("didEndAnimation").empty());

    scroll->setContentOffset(CGPointMake(0, 300), true);
    clock.advance(0.1);
    scroll->simulateBeginDragging();
    EXPECT_FALSE(scroll->isScrollAnimating());
    const CGPoint caught = scroll->contentOffset();
    clock.advance(1);
    EXPECT_EQ(scroll->contentOffset(), caught);
    scroll->simulateEndDragging(CGPointZero, false);
    EXPECT_TRUE(delegate->only("didEndAnimation").empty());
}

TEST_F(ScrollViewTest, TouchingADeceleratingViewStopsIt) {
    ManualClock clock;
    scroll->simulateDrag(0, 100, 2, CGPointMake(0, 2000));
    ASSERT_TRUE(scroll->isDecelerating());
    clock.advance(0.1);
    scroll->simulateBeginDragging();
    EXPECT_FALSE(scroll->isDecelerating());
    scroll->simulateEndDragging(CGPointZero, false);
    clock.advance(1);
    EXPECT_TRUE(delegate->only("didDecelerate").empty());
}

TEST_F(ScrollViewTest, ScrollsToTopWhenAllowed) {
    ManualClock clock;
    scroll->setContentInset(UIEdgeInsetsMake(20, 0, 0, 0));
    scroll->setContentOffset(CGPointMake(0, 500));
    delegate->allowScrollToTop = false;
    EXPECT_FALSE(scroll->simulateScrollToTop());
    delegate->allowScrollToTop = std::nullopt;  // not implemented: allowed
    EXPECT_TRUE(scroll->simulateScrollToTop());
    clock.advance(UIScrollView::kScrollAnimationDuration);
    EXPECT_POINT(scroll->contentOffset(), 0, -20);
    EXPECT_EQ(delegate->log.back(), "didScrollToTop");
    scroll->setScrollsToTop(false);
    EXPECT_FALSE(scroll->simulateScrollToTop());
}

TEST_F(ScrollViewTest, ScrollRectToVisibleMovesTheLeast) {
    scroll->scrollRectToVisible(CGRectMake(0, 600, 320, 100), false);
    EXPECT_POINT(scroll->contentOffset(), 0, 220);
    scroll->scrollRectToVisible(CGRectMake(0, 300, 320, 10), false);  // already visible
    EXPECT_POINT(scroll->contentOffset(), 0, 220);
    scroll->scrollRectToVisible(CGRectMake(0, 100, 320, 10), false);
    EXPECT_POINT(scroll->contentOffset(), 0, 100);
    scroll->scrollRectToVisible(CGRectMake(0, 5000, 320, 10), false);  // clamped to the range
    EXPECT_POINT(scroll->contentOffset(), 0, 1520);
}

TEST_F(ScrollViewTest, AGoneDelegateIsNotCalledAndTheViewMayBeItsOwnDelegate) {
    {
        auto temporary = make<RecordingDelegate>();
        scroll->setDelegate(temporary);
    }
    scroll->setContentOffset(CGPointMake(0, 5));  // no crash, nobody told
    EXPECT_EQ(scroll->delegate(), nullptr);

    struct SelfScrolling : UIScrollView, UIScrollViewDelegate {
        int scrolls = 0;
        void scrollViewDidScroll(UIScrollView& s) override {
            EXPECT_EQ(&s, this);
            ++scrolls;
        }
    };
    auto own = make<SelfScrolling>();
    own->setDelegate(std::static_pointer_cast<UIScrollViewDelegate>(own));
    own->setContentOffset(CGPointMake(0, 1));
    EXPECT_EQ(own->scrolls, 1);
}

TEST_F(ScrollViewTest, ADelegateMayReleaseTheScrollViewWhileTold) {
    struct Releasing : NSObject, UIScrollViewDelegate {
        Ref<UIScrollView> held;
        void scrollViewDidEndDragging(UIScrollView&, bool) override { held.reset(); }
    };
    auto releasing = make<Releasing>();
    releasing->held = scroll;
    scroll->setDelegate(releasing);
    Weak<UIScrollView> weak = scroll;
    scroll.reset();
    releasing->held->simulateDrag(0, 10);
    EXPECT_TRUE(weak.expired());
}

TEST_F(ScrollViewTest, FlagsAndThePanStateAnswerByName) {
    scroll->simulateBeginDragging();
    EXPECT_TRUE(KVO::valueForKey(*scroll, "dragging").boolValue());
    EXPECT_TRUE(KVO::valueForKey(*scroll, "tracking").boolValue());
    scroll->simulateEndDragging(CGPointZero, false);
    EXPECT_FALSE(KVO::valueForKey(*scroll, "dragging").boolValue());
    // The pan's state is observable through a simulated drag.
    auto pan = scroll->panGestureRecognizer();
    ASSERT_TRUE(pan);
    EXPECT_EQ(pan->view(), scroll);
    std::vector<std::string> states;
    auto token =
        KVO::observe(*pan, "state", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld,
                     [&](const Ref<NSObject>&, const Dictionary& change) {
                         states.push_back(std::to_string(change[NSKeyValueChangeOldKey].intValue()) + ">" +
                                          std::to_string(change[NSKeyValueChangeNewKey].intValue()) +
                                          (scroll->isDragging() ? " dragging" : ""));
                     });
    scroll->simulateDrag(0, 40, 2);
    EXPECT_EQ(states,
              (std::vector<std::string>{"0>1", "1>2 dragging", "2>2 dragging", "2>3 dragging", "3>0"}));
    EXPECT_EQ(pan->state(), UIGestureRecognizerStatePossible);
}

TEST_F(ScrollViewTest, AFingerDragsTheContent) {
    ManualClock clock;
    auto window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->setHidden(false);
    window->addSubview(scroll);
    UITestDriver::reset();
    UITestDriver::drag(scroll, CGPointMake(100, 400), CGPointMake(100, 200), 10);
    // The content followed the finger up, less the pan's starting threshold.
    EXPECT_GT(scroll->contentOffset().y, 150);
    EXPECT_LE(scroll->contentOffset().y, 200);
    EXPECT_FALSE(scroll->isDragging());
    ASSERT_FALSE(delegate->only("willBegin").empty());
    EXPECT_EQ(delegate->only("willBegin")[0], "willBegin TD-");
    EXPECT_EQ(delegate->only("didEnd").size(), 1u);
    clock.advance(UIScrollView::kDecelerationDuration);
    EXPECT_FALSE(scroll->isDecelerating());
    UITestDriver::reset();
    window->setHidden(true);
}

}  // namespace

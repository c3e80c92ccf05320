// Pull-down headers driven by simulated drags on the manual clock: the pull thresholds, the
// refresh with its inset and callback, the end with the stored time, the texts and the time
// label's forms, the normal header's arrow and indicator, and the gif header's frames.

#include <gtest/gtest.h>

#include <cmath>

#include "PullRefreshTestSupport.h"
#include "controls/PullRefreshGifHeader.h"
#include "controls/PullRefreshNormalHeader.h"
#include "foundation/NSCalendar.h"
#include "foundation/NSDateFormatter.h"
#include "foundation/NSKeyValueObserving.h"
#include "graphics/GraphicsTesting.h"
#include "graphics/UIGraphics.h"

using namespace pullrefreshtest;

namespace {

constexpr double kFrame = 1.0 / 60;

// Distinct (blank) frames 20 points wide.
std::vector<Ref<UIImage>> images(std::size_t count, CGFloat height = 20) {
    std::vector<Ref<UIImage>> list;
    for (std::size_t i = 0; i < count; ++i) {
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(20, height), false, 1);
        list.push_back(UIGraphicsGetImageFromCurrentImageContext());
        UIGraphicsEndImageContext();
    }
    return list;
}

std::string formatted(const NSDate& date, const char* format) {
    auto formatter = make<NSDateFormatter>();
    formatter->setDateFormat(format);
    return formatter->stringFromDate(date);
}

bool isTurned(const Ref<UIView>& view) {
    auto t = view->transform();
    return std::fabs(t.a + 1) < 1e-3 && std::fabs(t.d + 1) < 1e-3;
}
bool isUnturned(const Ref<UIView>& view) {
    auto t = view->transform();
    return std::fabs(t.a - 1) < 1e-9 && std::fabs(t.d - 1) < 1e-9 && std::fabs(t.b) < 1e-9;
}
void relayout(const Ref<UIView>& view) {
    view->setNeedsLayout();
    view->layoutIfNeeded();
}

class PullRefreshHeaderTest : public PullRefreshFixture {
  protected:
    Ref<PullRefreshNormalHeader> installHeader(std::vector<long> rows = {20}) {
        showTable(std::move(rows));
        header = PullRefreshNormalHeader::headerWithRefreshingBlock(counter.block());
        UIScrollView_PullRefresh::setHeader(table, header);
        header->layoutIfNeeded();
        return header;
    }
    Ref<PullRefreshGifHeader> installGif() {
        showTable({20});
        auto gif = PullRefreshGifHeader::headerWithRefreshingBlock(counter.block());
        UIScrollView_PullRefresh::setHeader(table, gif);
        return gif;
    }
    // Pulls to the offset and lets go; the spring-back's first step starts the refresh.
    void pullAndRelease(CGFloat offsetY) {
        dragTo(table, offsetY);
        release(table);
        clock.advance(kFrame);
    }

    CallbackCounter counter;
    Ref<PullRefreshNormalHeader> header;
};

}  // namespace

TEST_F(PullRefreshHeaderTest, SitsAboveTheContentAtItsHeight) {
    installHeader();
    EXPECT_EQ(header->frame(), CGRectMake(0, -54, 320, 54));
    header->setIgnoredScrollViewContentInsetTop(10);
    relayout(header);
    EXPECT_EQ(header->frame().origin.y, -64);
    EXPECT_EQ(header->lastUpdatedTimeKey(), "PullRefreshHeaderLastUpdatedTimeKey");
}

TEST_F(PullRefreshHeaderTest, PullingPastTheHeightArmsAndBackDisarms) {
    installHeader();
    dragTo(table, -54);
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    EXPECT_DOUBLE_EQ(header->pullingPercent(), 1.0);
    dragTo(table, -54.5);
    EXPECT_EQ(header->state(), PullRefreshState::Pulling);
    EXPECT_EQ(header->stateLabel()->text(), "松开立即刷新");
    dragTo(table, -54);
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    EXPECT_EQ(header->stateLabel()->text(), "下拉可以刷新");
    dragTo(table, 100);
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    // Letting go unarmed only reports the percent.
    dragTo(table, -20);
    EXPECT_NEAR(header->pullingPercent(), 20.0 / 54, 1e-9);
    release(table);
    clock.advance(1);
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    EXPECT_EQ(counter.calls, 0);
    EXPECT_EQ(table->contentOffset().y, 0);
    EXPECT_DOUBLE_EQ(header->pullingPercent(), 0);
}

TEST_F(PullRefreshHeaderTest, LettingGoArmedRefreshesHoldsTheHeaderAndCallsBack) {
    installHeader();
    dragTo(table, -60);
    EXPECT_EQ(header->state(), PullRefreshState::Pulling);
    release(table);
    EXPECT_EQ(header->state(), PullRefreshState::Pulling) << "nothing until the list moves on its own";
    clock.advance(kFrame);
    EXPECT_EQ(header->state(), PullRefreshState::Refreshing);
    EXPECT_EQ(table->contentInset().top, 54);
    EXPECT_EQ(table->contentOffset().y, -54);
    EXPECT_EQ(header->stateLabel()->text(), "正在刷新数据中...");
    EXPECT_EQ(counter.calls, 0);
    clock.advance(0.2);
    EXPECT_EQ(counter.calls, 0);
    clock.advance(0.06);
    EXPECT_EQ(counter.calls, 1) << "after the 0.25 s animation, on the main queue";

    // Scrolling while refreshing changes nothing.
    dragTo(table, -120);
    EXPECT_EQ(header->state(), PullRefreshState::Refreshing);
    EXPECT_EQ(header->scrollViewOriginalInset().top, 0);
    release(table);
    clock.advance(1);
    EXPECT_EQ(counter.calls, 1);
}

TEST_F(PullRefreshHeaderTest, EndingStoresTheTimeGivesTheInsetBackAndResetsThePercent) {
    installHeader();
    EXPECT_EQ(header->lastUpdatedTimeLabel()->text(), "最后更新：无记录");
    EXPECT_FALSE(header->lastUpdatedTime());
    pullAndRelease(-60);
    clock.advance(0.3);
    header->endRefreshing();
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    EXPECT_EQ(table->contentInset().top, 0);
    EXPECT_EQ(table->contentOffset().y, 0) << "the list springs back with the inset";
    ASSERT_TRUE(header->lastUpdatedTime());
    EXPECT_DOUBLE_EQ(header->lastUpdatedTime()->timeIntervalSince1970(), clock.now());
    EXPECT_TRUE(
        NSUserDefaults::standardUserDefaults()->objectForKey("PullRefreshHeaderLastUpdatedTimeKey").isDate());
    EXPECT_EQ(header->lastUpdatedTimeLabel()->text(),
              "最后更新：今天 " + formatted(*header->lastUpdatedTime(), "HH:mm"));
    clock.advance(0.41);
    EXPECT_DOUBLE_EQ(header->pullingPercent(), 0);
}

TEST_F(PullRefreshHeaderTest, ATopInsetMovesEveryThreshold) {
    showTable({20});
    table->setContentInset(UIEdgeInsetsMake(64, 0, 0, 0));
    table->setContentOffset(CGPointMake(0, -64));
    header = PullRefreshNormalHeader::headerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setHeader(table, header);
    dragTo(table, -118);
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    pullAndRelease(-119);
    EXPECT_EQ(table->contentInset().top, 118);
    EXPECT_EQ(table->contentOffset().y, -118);
    header->endRefreshing();
    EXPECT_EQ(table->contentInset().top, 64);
}

TEST_F(PullRefreshHeaderTest, AutoAlphaFadesOutAfterARefresh) {
    installHeader();
    header->setAutomaticallyChangeAlpha(true);
    dragTo(table, -27);
    EXPECT_NEAR(header->alpha(), 0.5, 1e-6);
    header->beginRefreshing();
    EXPECT_DOUBLE_EQ(header->alpha(), 1.0);
    header->endRefreshing();
    EXPECT_DOUBLE_EQ(header->alpha(), 0.0);
}

TEST_F(PullRefreshHeaderTest, EndingOnACollectionViewWaitsATenthOfASecond) {
    showCollection({12});
    header = PullRefreshNormalHeader::headerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setHeader(collection, header);
    header->beginRefreshing();
    clock.advance(0.3);
    EXPECT_EQ(counter.calls, 1);
    header->endRefreshing();
    clock.advance(0.09);
    EXPECT_EQ(header->state(), PullRefreshState::Refreshing);
    clock.advance(0.02);
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    EXPECT_EQ(collection->contentInset().top, 0);
}

TEST_F(PullRefreshHeaderTest, TimeTextTakesTheShortestFormThatIsUnambiguous) {
    const NSDate now = NSDate::date();
    auto calendar = NSCalendar::currentCalendar();
    using H = PullRefreshStateHeader;
    EXPECT_EQ(H::lastUpdatedTimeTextFor(std::nullopt, now), "最后更新：无记录");
    const NSDate earlierToday = calendar->startOfDayForDate(now).dateByAddingTimeInterval(9 * 3600 + 5 * 60);
    EXPECT_EQ(H::lastUpdatedTimeTextFor(earlierToday, now), "最后更新：今天 09:05");
    const NSDate yesterday = now.dateByAddingTimeInterval(-86400);
    const bool sameYear =
        calendar->component(NSCalendarUnitYear, yesterday) == calendar->component(NSCalendarUnitYear, now);
    EXPECT_EQ(H::lastUpdatedTimeTextFor(yesterday, now),
              "最后更新：" + formatted(yesterday, sameYear ? "MM-dd HH:mm" : "yyyy-MM-dd HH:mm"));
    const NSDate lastYear = *calendar->dateByAddingUnit(NSCalendarUnitYear, -1, now);
    EXPECT_EQ(H::lastUpdatedTimeTextFor(lastYear, now),
              "最后更新：" + formatted(lastYear, "yyyy-MM-dd HH:mm"));
    // Same day of the month, another month of this year: not "today".
    const long month = calendar->component(NSCalendarUnitMonth, now);
    const NSDate otherMonth = *calendar->dateByAddingUnit(NSCalendarUnitMonth, month > 1 ? -1 : 1, now);
    ASSERT_EQ(calendar->component(NSCalendarUnitDay, otherMonth),
              calendar->component(NSCalendarUnitDay, now));
    EXPECT_EQ(H::lastUpdatedTimeTextFor(otherMonth, now),
              "最后更新：" + formatted(otherMonth, "MM-dd HH:mm"));
}

TEST_F(PullRefreshHeaderTest, OwnKeyAndOwnTextBlock) {
    installHeader();
    std::vector<bool> seenDates;
    header->setLastUpdatedTimeText([&](const std::optional<NSDate>& date) {
        seenDates.push_back(date.has_value());
        return std::string(date ? "有" : "没有");
    });
    header->setLastUpdatedTimeKey("QuestionListRefreshTime");
    EXPECT_EQ(header->lastUpdatedTimeLabel()->text(), "没有");
    header->beginRefreshing();
    header->endRefreshing();
    EXPECT_EQ(header->lastUpdatedTimeLabel()->text(), "有");
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->objectForKey("QuestionListRefreshTime").isDate());
    EXPECT_TRUE(
        NSUserDefaults::standardUserDefaults()->objectForKey(PullRefreshHeaderLastUpdatedTimeKey).isNil());
    ASSERT_FALSE(seenDates.empty());
    EXPECT_FALSE(seenDates.front());
}

TEST_F(PullRefreshHeaderTest, TitlesPerStateAndNilTitlesIgnored) {
    installHeader();
    EXPECT_EQ(header->stateLabel()->text(), "下拉可以刷新");
    header->setTitle(std::nullopt, PullRefreshState::Idle);
    EXPECT_EQ(header->titleForState(PullRefreshState::Idle), "下拉可以刷新");
    header->setTitle("Pull", PullRefreshState::Idle);
    EXPECT_EQ(header->stateLabel()->text(), "Pull") << "the current state's title shows at once";
    header->setTitle("Let go", PullRefreshState::Pulling);
    EXPECT_EQ(header->stateLabel()->text(), "Pull");
    header->setState(PullRefreshState::NoMoreData);
    EXPECT_FALSE(header->stateLabel()->text().has_value());
    EXPECT_FALSE(header->titleForState(PullRefreshState::WillRefresh));
}

TEST_F(PullRefreshHeaderTest, OffscreenBeginShowsNoTitleUntilDrawn) {
    offscreenTable({20});
    header = PullRefreshNormalHeader::headerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setHeader(table, header);
    header->beginRefreshing();
    EXPECT_FALSE(header->stateLabel()->text().has_value());
    window = make<UIWindow>(CGRectMake(0, 0, 320, 600));
    window->makeKeyAndVisible();
    window->addSubview(table);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(header->stateLabel()->text(), "正在刷新数据中...");
    EXPECT_EQ(table->contentInset().top, 54);
}

TEST_F(PullRefreshHeaderTest, LabelsAndArrowLayout) {
    installHeader();
    EXPECT_EQ(header->stateLabel()->frame(), CGRectMake(0, 0, 320, 27));
    EXPECT_EQ(header->lastUpdatedTimeLabel()->frame(), CGRectMake(0, 27, 320, 27));
    EXPECT_EQ(header->stateLabel()->font()->pointSize(), 14);
    auto arrow = header->arrowView();
    ASSERT_TRUE(arrow->image());
    EXPECT_EQ(arrow->bounds().size, CGSizeMake(15, 40));
    EXPECT_EQ(arrow->center(), CGPointMake(60, 27));
    EXPECT_EQ(header->loadingView()->center(), CGPointMake(60, 27));

    header->lastUpdatedTimeLabel()->setHidden(true);
    relayout(header);
    EXPECT_EQ(header->stateLabel()->frame(), CGRectMake(0, 0, 320, 54));
    header->stateLabel()->setHidden(true);
    relayout(header);
    EXPECT_EQ(arrow->center(), CGPointMake(160, 27));
}

TEST_F(PullRefreshHeaderTest, WithoutTheArrowPictureTheHeaderStillWorks) {
    graphics_testing::setResourcesDirectory(sandbox.path());  // no bundle there
    installHeader();
    EXPECT_FALSE(header->arrowView()->image());
    EXPECT_EQ(header->arrowView()->bounds().size, CGSizeZero);
    EXPECT_EQ(header->loadingView()->bounds().size.width, 20) << "the indicator keeps its own size";
    EXPECT_EQ(header->loadingView()->center(), CGPointMake(60, 27));
    pullAndRelease(-60);
    EXPECT_EQ(header->state(), PullRefreshState::Refreshing);
    EXPECT_TRUE(header->loadingView()->isAnimating());
}

TEST_F(PullRefreshHeaderTest, ArrowTurnsWhenArmedAndTheIndicatorSpinsWhileRefreshing) {
    installHeader();
    auto arrow = header->arrowView();
    auto loading = header->loadingView();
    EXPECT_TRUE(isUnturned(arrow));
    EXPECT_FALSE(arrow->isHidden());
    EXPECT_FALSE(loading->isAnimating());
    EXPECT_TRUE(loading->isHidden());

    dragTo(table, -60);
    EXPECT_TRUE(isTurned(arrow));
    dragTo(table, -30);
    EXPECT_TRUE(isUnturned(arrow));
    dragTo(table, -60);
    release(table);
    clock.advance(kFrame);
    EXPECT_TRUE(arrow->isHidden());
    EXPECT_TRUE(loading->isAnimating());
    EXPECT_DOUBLE_EQ(loading->alpha(), 1.0);

    header->endRefreshing();
    EXPECT_TRUE(isUnturned(arrow)) << "the turn is reset at once";
    EXPECT_DOUBLE_EQ(loading->alpha(), 0.0);
    EXPECT_TRUE(loading->isAnimating());
    clock.advance(0.41);
    EXPECT_DOUBLE_EQ(loading->alpha(), 1.0);
    EXPECT_FALSE(loading->isAnimating());
    EXPECT_FALSE(arrow->isHidden());
    // A refresh started during the fade keeps its spinner.
    header->beginRefreshing();
    header->endRefreshing();
    header->beginRefreshing();
    clock.advance(0.5);
    EXPECT_TRUE(header->loadingView()->isAnimating());
    EXPECT_TRUE(header->arrowView()->isHidden());
}

TEST_F(PullRefreshHeaderTest, IndicatorStyleChangeDropsTheOldIndicator) {
    installHeader();
    auto old = header->loadingView();
    EXPECT_EQ(header->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleGray);
    header->setActivityIndicatorViewStyle(UIActivityIndicatorViewStyleWhiteLarge);
    EXPECT_EQ(old->superview(), nullptr);
    auto fresh = header->loadingView();
    EXPECT_NE(fresh, old);
    EXPECT_EQ(fresh->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleWhiteLarge);
    EXPECT_TRUE(header->needsLayout());
}

TEST_F(PullRefreshHeaderTest, GifIdleFramesFollowThePull) {
    auto gif = installGif();
    auto idle = images(10);
    gif->setImages(idle, PullRefreshState::Idle);
    EXPECT_NEAR(gif->stateDurations()[PullRefreshState::Idle], 1.0, 1e-9);
    for (auto [percent, frame] : {std::pair{0.35, 3}, {1.2, 9}, {-0.5, 0}, {std::nan(""), 0}}) {
        gif->setPullingPercent(percent);
        EXPECT_EQ(gif->gifView()->image(), idle[frame]) << percent;
    }

    // Through a real drag.
    dragTo(table, -27);
    EXPECT_EQ(gif->gifView()->image(), idle[5]);
}

TEST_F(PullRefreshHeaderTest, GifStatesPlayTheirFramesAndGrowTheHeader) {
    auto gif = installGif();
    gif->setImages(std::nullopt, PullRefreshState::Pulling);
    EXPECT_TRUE(gif->stateImages().empty());
    gif->setImages(images(8), PullRefreshState::Pulling);
    EXPECT_NEAR(gif->stateDurations()[PullRefreshState::Pulling], 0.8, 1e-9);
    auto refreshing = images(1, 60);
    gif->setImages(refreshing, 0.5, PullRefreshState::Refreshing);
    EXPECT_EQ(gif->frame().size.height, 60);
    gif->setImages(images(2, 30), PullRefreshState::Idle);
    EXPECT_EQ(gif->frame().size.height, 60) << "never shrinks";

    dragTo(table, -61);
    EXPECT_EQ(gif->state(), PullRefreshState::Pulling);
    EXPECT_TRUE(gif->gifView()->isAnimating());
    EXPECT_EQ(gif->gifView()->animationImages().size(), 8u);
    EXPECT_NEAR(gif->gifView()->animationDuration(), 0.8, 1e-9);
    pullAndRelease(-61);
    EXPECT_EQ(gif->state(), PullRefreshState::Refreshing);
    EXPECT_FALSE(gif->gifView()->isAnimating());
    EXPECT_EQ(gif->gifView()->image(), refreshing[0]);
    EXPECT_EQ(table->contentInset().top, 60);

    gif->endRefreshing();
    clock.advance(0.41);
    EXPECT_EQ(gif->gifView()->image(), gif->stateImages()[PullRefreshState::Idle][0])
        << "the end of the hide animation shows the first idle frame";
}

TEST_F(PullRefreshHeaderTest, GifLayoutLeavesRoomForTheText) {
    auto gif = installGif();
    gif->layoutIfNeeded();
    EXPECT_EQ(gif->gifView()->contentMode(), UIViewContentModeRight);
    EXPECT_EQ(gif->gifView()->frame().size.width, 70);
    gif->stateLabel()->setHidden(true);
    gif->lastUpdatedTimeLabel()->setHidden(true);
    relayout(gif);
    EXPECT_EQ(gif->gifView()->contentMode(), UIViewContentModeCenter);
    EXPECT_EQ(gif->gifView()->frame(), gif->bounds());
}

TEST_F(PullRefreshHeaderTest, FactoriesWithTargetAndAction) {
    showTable({20});
    auto receiver = make<NSObject>();
    int actions = 0;
    Ref<PullRefreshComponent> seenSender;
    auto normal = PullRefreshNormalHeader::headerWithRefreshingTarget(
        receiver, [&](const Ref<NSObject>& target, const Ref<PullRefreshComponent>& sender) {
            EXPECT_EQ(target, receiver);
            seenSender = sender;
            ++actions;
        });
    EXPECT_EQ(normal->className(), "PullRefreshNormalHeader");
    UIScrollView_PullRefresh::setHeader(table, normal);
    normal->beginRefreshing();
    clock.advance(0.3);
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(seenSender, normal);
    seenSender.reset();
}

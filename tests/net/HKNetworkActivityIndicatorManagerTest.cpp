// The network activity indicator: counting from notifications, showing at once, hiding 0.17 s
// (manual clock) after the last request ended, never below zero, disabled behaviour, observers,
// and real operations driving it.

#include "net/HKNetworkActivityIndicatorManager.h"

#include <gtest/gtest.h>

#include <thread>

#include "foundation/NSKeyValueObserving.h"
#include "net/HKHTTPRequestOperationManager.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIApplication.h"

using testsupport::ManualClock;

namespace {

bool statusBarShows() {
    return UIApplication::sharedApplication()->isNetworkActivityIndicatorVisible();
}

class ActivityIndicatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UIApplication::sharedApplication()->setNetworkActivityIndicatorVisible(false);
        indicator = make<HKNetworkActivityIndicatorManager>();
        indicator->setEnabled(true);
        operation = make<HKURLConnectionOperation>(
            NSURLRequest::requestWithURL(NSURL::URLWithString("http://example.test/")));
    }
    void TearDown() override {
        UIApplication::sharedApplication()->setNetworkActivityIndicatorVisible(false);
    }

    void post(const char* name, const Ref<NSObject>& sender) {
        NSNotificationCenter::defaultCenter()->postNotificationName(name, sender);
    }
    void started() { post(HKNetworkingOperationDidStartNotification, operation); }
    void finished() { post(HKNetworkingOperationDidFinishNotification, operation); }

    ManualClock clock;
    Ref<HKNetworkActivityIndicatorManager> indicator;
    Ref<HKURLConnectionOperation> operation;
};

TEST_F(ActivityIndicatorTest, ShowsAtOnceAndHidesAFractionOfASecondAfterTheLastFinish) {
    started();
    EXPECT_EQ(indicator->activityCount(), 1);
    EXPECT_TRUE(indicator->isNetworkActivityIndicatorVisible());
    clock.advance(0);
    EXPECT_TRUE(statusBarShows());
    finished();
    EXPECT_EQ(indicator->activityCount(), 0);
    clock.advance(0.16);
    EXPECT_TRUE(statusBarShows());
    clock.advance(0.02);
    EXPECT_FALSE(statusBarShows());
    EXPECT_FALSE(indicator->activityIndicatorVisibilityTimer()->isValid());
}

TEST_F(ActivityIndicatorTest, ARequestStartingWithinTheDelayKeepsItOn) {
    started();
    clock.advance(0);
    finished();
    clock.advance(0.1);
    started();
    clock.advance(0);
    EXPECT_TRUE(statusBarShows());
    clock.advance(0.2);  // the pending hide fires, reads a running request and keeps it on
    EXPECT_TRUE(statusBarShows());
    finished();
    clock.advance(0.171);
    EXPECT_FALSE(statusBarShows());
}

TEST_F(ActivityIndicatorTest, EachFallToZeroArmsAFreshTimer) {
    started();
    clock.advance(0);
    finished();
    clock.advance(0.1);
    auto first = indicator->activityIndicatorVisibilityTimer();
    ASSERT_NE(first, nullptr);
    started();
    finished();
    clock.advance(0);
    auto second = indicator->activityIndicatorVisibilityTimer();
    EXPECT_NE(first, second);
    EXPECT_FALSE(first->isValid());
    clock.advance(0.1);
    EXPECT_TRUE(statusBarShows());  // the first timer would have fired by now
    clock.advance(0.08);
    EXPECT_FALSE(statusBarShows());
}

TEST_F(ActivityIndicatorTest, ExtraFinishesNeverTakeTheCountBelowZero) {
    started();
    finished();
    finished();
    EXPECT_EQ(indicator->activityCount(), 0);
    indicator->decrementActivityCount();
    EXPECT_EQ(indicator->activityCount(), 0);
    started();
    EXPECT_EQ(indicator->activityCount(), 1);
}

TEST_F(ActivityIndicatorTest, DisabledItCountsButLeavesTheStatusBarAlone) {
    indicator->setEnabled(false);
    std::vector<long long> counts;
    std::vector<bool> visibility;
    auto countToken = KVO::observe(*indicator, "activityCount", NSKeyValueObservingOptionNew,
                                   [&](const Ref<NSObject>&, const Dictionary& change) {
                                       counts.push_back(change[NSKeyValueChangeNewKey].longLongValue());
                                   });
    auto visibleToken =
        KVO::observe(*indicator, "isNetworkActivityIndicatorVisible", NSKeyValueObservingOptionNew,
                     [&](const Ref<NSObject>&, const Dictionary& change) {
                         visibility.push_back(change[NSKeyValueChangeNewKey].boolValue());
                     });
    started();
    clock.advance(0.5);
    EXPECT_FALSE(statusBarShows());
    finished();
    clock.advance(0.5);
    EXPECT_EQ(counts, (std::vector<long long>{1, 0}));
    EXPECT_EQ(visibility, (std::vector<bool>{true, false}));
    EXPECT_FALSE(statusBarShows());
}

TEST_F(ActivityIndicatorTest, TurningItOffWhileShownLeavesItShown) {
    started();
    clock.advance(0);
    EXPECT_TRUE(statusBarShows());
    indicator->setEnabled(false);
    finished();
    clock.advance(1);
    EXPECT_TRUE(statusBarShows());
}

TEST_F(ActivityIndicatorTest, NotificationsWithoutARequestURLAreIgnored) {
    auto noURL = make<HKURLConnectionOperation>(make<NSURLRequest>());
    post(HKNetworkingOperationDidStartNotification, noURL);
    post(HKNetworkingOperationDidStartNotification, make<NSObject>());
    post(HKNetworkingOperationDidStartNotification, nullptr);
    EXPECT_EQ(indicator->activityCount(), 0);
    EXPECT_EQ(HKRequestCarriedByNotification(nullptr), nullptr);
}

TEST_F(ActivityIndicatorTest, TaskNotificationsCountAsWell) {
    // Anything that carries an original request stands for a task.
    auto task = make<NSURLConnection>(
        NSURLRequest::requestWithURL(NSURL::URLWithString("http://example.test/t")), nullptr, false);
    post(HKNetworkingTaskDidResumeNotification, task);
    EXPECT_EQ(indicator->activityCount(), 1);
    post(HKNetworkingTaskDidSuspendNotification, task);
    EXPECT_EQ(indicator->activityCount(), 0);
    post(HKNetworkingTaskDidResumeNotification, task);
    EXPECT_EQ(indicator->activityCount(), 1);
    post(HKNetworkingTaskDidCompleteNotification, task);
    EXPECT_EQ(indicator->activityCount(), 0);
}

TEST_F(ActivityIndicatorTest, CountsFromManyThreadsAddUp) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < 200; ++i) indicator->incrementActivityCount();
            for (int i = 0; i < 150; ++i) indicator->decrementActivityCount();
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(indicator->activityCount(), 8 * 50);
    clock.advance(0);
    EXPECT_TRUE(statusBarShows());
}

TEST_F(ActivityIndicatorTest, AManagerThatGoesStopsListening) {
    auto other = make<HKNetworkActivityIndicatorManager>();
    Weak<HKNetworkActivityIndicatorManager> weak = other;
    other.reset();
    EXPECT_TRUE(weak.expired());
    started();  // nothing is told about a manager that is gone
    EXPECT_EQ(indicator->activityCount(), 1);
}

TEST(ActivityIndicatorShared, IsOneInstance) {
    EXPECT_EQ(HKNetworkActivityIndicatorManager::sharedManager(),
              HKNetworkActivityIndicatorManager::sharedManager());
}

// ---- real requests ------------------------------------------------------------------------------------

class ActivityIndicatorRequestTest : public nettest::NetTest {};

TEST_F(ActivityIndicatorRequestTest, FollowsARunningRequest) {
    ManualClock clock;
    UIApplication::sharedApplication()->setNetworkActivityIndicatorVisible(false);
    auto indicator = make<HKNetworkActivityIndicatorManager>();
    indicator->setEnabled(true);
    auto reply = nettest::json("{}");
    reply.delayBeforeHeaders = 0.3;
    server.setReply("/slow", reply);
    nettest::Outcome outcome;
    auto manager = HKHTTPRequestOperationManager::manager();
    manager->GET(server.url("/slow"), Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return statusBarShows(); }, 5));
    EXPECT_EQ(indicator->activityCount(), 1);
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return indicator->activityCount() == 0; }, 5));
    testsupport::drainMainRunLoop();  // the hide timer is armed by work queued with the count
    EXPECT_TRUE(statusBarShows());
    clock.advance(0.169);
    EXPECT_TRUE(statusBarShows());
    clock.advance(0.002);
    EXPECT_FALSE(statusBarShows());
}

}  // namespace

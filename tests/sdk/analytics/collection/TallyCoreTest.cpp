// Work items, sessions, page views, the event budget, sign-in and timed events, driven through
// the public interface and the main run loop on the manual clock.

#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "TallyTestSupport.h"
#include "foundation/NSPropertyListSerialization.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/Tally.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyEvent.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallySession.h"
#include "uikit/UIApplication.h"

namespace {

using tallytest::TallyTest;

class TallyCoreTest : public TallyTest {
  protected:
    Ref<TallyInternal> core() { return TallyInternal::sharedInstance(); }
    Ref<TallySession> session() { return TallySession::sharedInstance(); }
    void activate() {
        session()->appActivate(nullptr);
        testsupport::drainMainRunLoop();
    }
    void drain() { testsupport::drainMainRunLoop(); }
    std::vector<std::string> eventIds() {
        std::vector<std::string> ids;
        for (auto& item : core()->events())
            ids.push_back(std::dynamic_pointer_cast<TANEvent>(item)->event_id.value_or(""));
        return ids;
    }
    Ref<TANEvent> eventAt(std::size_t i) {
        return std::dynamic_pointer_cast<TANEvent>(core()->events().at(i));
    }
    Ref<TANEkv> ekvAt(std::size_t i) { return std::dynamic_pointer_cast<TANEkv>(core()->ekv().at(i)); }
};

TEST_F(TallyCoreTest, WorkItemsWaitForTheMainThreadAndKeepTheirOrder) {
    activate();
    std::thread poster([] {
        for (int i = 0; i < 20; ++i) Tally::event(NSString::stringWithFormat("e%d", i));
    });
    poster.join();
    EXPECT_TRUE(core()->events().empty());
    drain();
    auto ids = eventIds();
    ASSERT_EQ(ids.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(ids[static_cast<std::size_t>(i)], NSString::stringWithFormat("e%d", i));
    EXPECT_EQ(eventAt(0)->session_id, core()->sessionID());
    EXPECT_EQ(eventAt(0)->acc, 1);
}

TEST_F(TallyCoreTest, ManyPostersNeverLoseAnItem) {
    activate();
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([t] {
            for (int i = 0; i < 50; ++i) Tally::event(NSString::stringWithFormat("t%d-%02d", t, i));
        });
    }
    for (auto& p : posters) p.join();
    drain();
    auto ids = eventIds();
    ASSERT_EQ(ids.size(), 200u);
    // Each poster's items stay in its own order.
    for (int t = 0; t < 4; ++t) {
        int last = -1;
        for (const auto& id : ids) {
            if (id.rfind(NSString::stringWithFormat("t%d-", t), 0) != 0) continue;
            int n = std::stoi(id.substr(3));
            EXPECT_GT(n, last);
            last = n;
        }
    }
}

TEST_F(TallyCoreTest, ItemsBeforeTheFirstSessionWaitInTheHoldingContainer) {
    Tally::event(std::string("early"));
    Tally::event(std::string("early-kv"), std::optional<Dictionary>(Dictionary{{"k", "v"}}));
    drain();
    EXPECT_EQ(core()->tmpContainer().size(), 2u);
    EXPECT_TRUE(core()->events().empty());
    activate();
    EXPECT_TRUE(core()->tmpContainer().empty());
    EXPECT_EQ(eventIds(), std::vector<std::string>{"early"});
    EXPECT_EQ(core()->ekv().size(), 1u);
}

// A program that only calls the public interface: nothing links the core beforehand (as in a new
// process), and the first item recorded still reaches it.
TEST_F(TallyCoreTest, ThePublicInterfaceLinksTheCoreOnFirstUse) {
    using Entry = void (*)();
    for (Entry first :
         {+[] { Tally::event(std::string("first")); }, +[] { TallyEvent::event(std::string("first")); }}) {
        detail::TallyResetForTesting();
        ASSERT_FALSE(TallyCoreLink::linked());
        first();
        drain();
        ASSERT_EQ(core()->tmpContainer().size(), 1u);  // held until the first session
        Tally::startSession(nullptr);
        drain();
        EXPECT_EQ(eventIds(), std::vector<std::string>{"first"});
    }
}

TEST_F(TallyCoreTest, BackgroundItemsAreNotCountedByTheBudget) {
    activate();
    session()->setAppInBackGround(true);
    TallyConfig::setConfigure(Value(clock().now()), "umSeparatedTime");
    TallyConfig::setConfigure(Value(4999), "umPeriodEvtCount");
    Tally::event(std::string("a"));
    Tally::event(std::string("b"));
    drain();
    EXPECT_EQ(core()->tmpContainer().size(), 2u);
}

TEST_F(TallyCoreTest, TheBudgetRefusesTheFiveThousandthEvent) {
    activate();
    TallyConfig::setConfigure(Value(clock().now()), "umSeparatedTime");
    TallyConfig::setConfigure(Value(4999), "umPeriodEvtCount");
    TallyApp::setLogEnabled(true);
    Tally::event(std::string("accepted-at-4999"));
    Tally::event(std::string("refused-at-5000"));
    drain();
    EXPECT_EQ(eventIds(), std::vector<std::string>{"accepted-at-4999"});
    EXPECT_TRUE(log_.contains("WARNING event max count 5000 per 8 hours."));
    // Errors are never refused.
    core()->error(std::string("x"));
}

TEST_F(TallyCoreTest, TheBudgetPeriodRestartsAfterEightHours) {
    activate();
    TallyConfig::setConfigure(Value(clock().now()), "umSeparatedTime");
    TallyConfig::setConfigure(Value(5000), "umPeriodEvtCount");
    Tally::event(std::string("refused"));
    drain();
    EXPECT_TRUE(core()->events().empty());
    clock().jump(28800);
    Tally::event(std::string("still-refused"));
    drain();
    EXPECT_TRUE(core()->events().empty());
    clock().jump(1.5);
    Tally::event(std::string("new-period"));
    drain();
    EXPECT_EQ(eventIds(), std::vector<std::string>{"new-period"});
    EXPECT_EQ(TallyConfig::configureWithKey("umPeriodEvtCount").intValue(), 0);
}

TEST_F(TallyCoreTest, TheFirstEventStartsThePeriodWithoutCounting) {
    activate();
    TallyConfig::removeConfigureWithKey("umSeparatedTime");
    TallyConfig::setConfigure(Value(9999), "umPeriodEvtCount");
    Tally::event(std::string("first"));
    drain();
    EXPECT_EQ(eventIds().size(), 1u);
    EXPECT_DOUBLE_EQ(TallyConfig::configureWithKey("umSeparatedTime").doubleValue(), clock().now());
}

TEST_F(TallyCoreTest, PageViews) {
    activate();
    Tally::endLogPageView(std::string("Never"));
    Tally::beginLogPageView(std::string("Studio"));
    drain();
    clock().jump(2);
    Tally::beginLogPageView(std::string("Studio"));  // the later begin counts
    drain();
    clock().jump(3.7);
    Tally::endLogPageView(std::string("Studio"));
    Tally::beginLogPageView(std::string("Quick"));
    drain();
    Tally::endLogPageView(std::string("Quick"));  // under a second: no entry, begin forgotten
    Tally::logPageView(std::string("Given"), 5);
    Tally::logPageView(std::string("Zero"), 0);
    Tally::beginLogPageView(std::string("  "));
    drain();
    const Array& pages = core()->pageItems();
    ASSERT_EQ(pages.count(), 2u);
    EXPECT_EQ(*pages[0][0].string(), "Studio");
    EXPECT_EQ(pages[0][1].intValue(), 3);
    EXPECT_EQ(*pages[1][0].string(), "Given");
    EXPECT_EQ(pages[1][1].intValue(), 5);
    EXPECT_TRUE(core()->pageItemsHash().empty());
}

TEST_F(TallyCoreTest, SessionEndsCarryPagesAndTheLocation) {
    activate();
    Tally::logPageView(std::string("Home"), 4);
    Tally::setLatitude(0, 31.2);
    drain();
    core()->stopSession(10);
    auto first = std::dynamic_pointer_cast<TANTerminate>(core()->terminates().back());
    EXPECT_FALSE(first->hasGPSInfo());
    EXPECT_EQ(first->pageViews.count(), 1u);
    EXPECT_TRUE(core()->pageItems().empty());
    Tally::setLatitude(31.2, 121.5);
    core()->stopSession(10);
    auto second = std::dynamic_pointer_cast<TANTerminate>(core()->terminates().back());
    EXPECT_TRUE(second->hasGPSInfo());
    EXPECT_EQ(second->gps_time, static_cast<std::int64_t>(clock().now() * 1000));
    EXPECT_EQ(TallyLocation::sharedInstance()->latitude(), 0);
}

TEST_F(TallyCoreTest, SessionLengthIsCappedAfterTwoHours) {
    activate();
    clock().jump(7200);
    EXPECT_DOUBLE_EQ(session()->endSessionTime(), 7200);
    clock().jump(3 * 3600 - 7200);
    EXPECT_DOUBLE_EQ(session()->endSessionTime(), 3600);
}

TEST_F(TallyCoreTest, EveryActivationBeginsANewSession) {
    activate();
    std::string first = core()->sessionID();
    EXPECT_EQ(session()->sessionStatus(), 1);
    session()->appInactivate(nullptr);
    EXPECT_EQ(session()->sessionStatus(), 2);
    EXPECT_TRUE(session()->appInBackGround());
    drain();
    activate();
    EXPECT_NE(core()->sessionID(), first);
    EXPECT_FALSE(session()->appInBackGround());
    // The resignation's session end was saved to the cache file and loaded back.
    ASSERT_EQ(core()->terminates().size(), 1u);
    EXPECT_EQ(core()->terminates()[0]->session_id, first);
}

TEST_F(TallyCoreTest, ResignationAsksForBackgroundTime) {
    activate();
    auto app = UIApplication::sharedApplication();
    session()->appInactivate(nullptr);
    UIBackgroundTaskIdentifier task = TallyApp::sharedInstance()->backgroundTaskIdentifier();
    auto running = [&] {
        auto tasks = app->runningBackgroundTasks();
        return std::find(tasks.begin(), tasks.end(), task) != tasks.end();
    };
    EXPECT_TRUE(running());
    // Expiry ends the task on the main queue.
    app->expireBackgroundTasks();
    drain();
    EXPECT_FALSE(running());
    EXPECT_EQ(TallyApp::sharedInstance()->backgroundTaskIdentifier(), UIBackgroundTaskInvalid);
}

TEST_F(TallyCoreTest, WithoutBackgroundTasksTheSessionEndsInsideTheNotification) {
    activate();
    Tally::setBackgroundTaskEnabled(false);
    Tally::event(std::string("pending"));
    drain();
    session()->appInactivate(nullptr);
    // Applied at once: the containers went to the cache file.
    EXPECT_TRUE(core()->events().empty());
    EXPECT_TRUE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
}

TEST_F(TallyCoreTest, TerminationWritesNoCacheFile) {
    activate();
    Tally::event(std::string("pending"));
    drain();
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationWillTerminateNotification);
    session()->appInactivate(
        NSNotification::notificationWithName(UIApplicationWillTerminateNotification, nullptr));
    EXPECT_TRUE(session()->appBeKilling());
    EXPECT_FALSE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
}

TEST_F(TallyCoreTest, SignInChecksItsArguments) {
    TallyApp::setLogEnabled(true);
    Tally::profileSignInWithPUID(std::string(65, 'p'));
    Tally::profileSignInWithPUID(std::string("   "));
    Tally::profileSignInWithPUID(std::string("p"), std::string(33, 'q'));
    drain();
    EXPECT_TRUE(TallyConfig::configureWithKey("TAProfilePUID").isNil());
    EXPECT_TRUE(log_.contains("ERROR, puid's max length is 64 byte."));
    EXPECT_TRUE(log_.contains("ERROR, invalid puid."));
    EXPECT_TRUE(log_.contains("ERROR, provider's max length is 32 byte."));
    Tally::profileSignInWithPUID(std::string(64, 'p'), std::string("  "));
    drain();
    EXPECT_EQ(*TallyConfig::configureWithKey("TAProfilePUID").string(), std::string(64, 'p'));
    EXPECT_EQ(*TallyConfig::configureWithKey("TAProfileProvider").string(), "_adhoc");
}

TEST_F(TallyCoreTest, SignInWithANewIdentityCutsTheSession) {
    activate();
    TallyApp::sharedInstance()->setAppid(std::string("0123456789abcdef01234567"));
    Tally::profileSignInWithPUID(std::string("playerID"));
    drain();
    std::string id = core()->sessionID();
    std::size_t files = TallyUtility::envelopeFiles().size();
    Tally::profileSignInWithPUID(std::string("playerID"));  // the same: nothing happens
    drain();
    EXPECT_EQ(core()->sessionID(), id);
    EXPECT_EQ(TallyUtility::envelopeFiles().size(), files);
    Tally::profileSignInWithPUID(std::string("playerID"), std::string("WB"));
    drain();
    EXPECT_NE(core()->sessionID(), id);
    EXPECT_EQ(TallyUtility::envelopeFiles().size(), files + 1);
    EXPECT_TRUE(core()->terminates().empty());  // went into the envelope
    EXPECT_EQ(*TallyConfig::configureWithKey("TAProfileProvider").string(), "WB");
    Tally::profileSignOff();
    drain();
    EXPECT_TRUE(TallyConfig::configureWithKey("TAProfilePUID").isNil());
    EXPECT_TRUE(TallyConfig::configureWithKey("TAProfileProvider").isNil());
    EXPECT_EQ(TallyUtility::envelopeFiles().size(), files + 2);
    std::string afterOff = core()->sessionID();
    Tally::profileSignOff();  // nothing stored: nothing happens
    drain();
    EXPECT_EQ(core()->sessionID(), afterOff);
}

TEST_F(TallyCoreTest, TimedEventsPairWithTheMostRecentBegin) {
    activate();
    Tally::beginEvent(std::string("a"), std::string("x"));
    drain();
    clock().jump(1);
    Tally::beginEvent(std::string("a"), std::string("x"));
    drain();
    clock().jump(2);
    Tally::endEvent(std::string("a"), std::string("x"));
    drain();
    ASSERT_EQ(core()->events().size(), 1u);
    EXPECT_EQ(eventAt(0)->du, 2000);
    EXPECT_EQ(eventAt(0)->acc, 0);
    Tally::endEvent(std::string("a"), std::string("x"));
    drain();
    ASSERT_EQ(core()->events().size(), 2u);
    EXPECT_EQ(eventAt(1)->du, 3000);
    Tally::endEvent(std::string("a"), std::string("x"));  // nothing left to end
    Tally::endEvent(std::string("never"));
    drain();
    EXPECT_EQ(core()->events().size(), 2u);
}

TEST_F(TallyCoreTest, AnEmptyLabelPairsWithNoLabel) {
    activate();
    Tally::beginEvent(std::string("a"));
    drain();
    Tally::endEvent(std::string("a"), std::string(""));
    drain();
    EXPECT_EQ(core()->events().size(), 1u);
}

TEST_F(TallyCoreTest, TimedEventsOfTwoHoursAreDiscarded) {
    activate();
    Tally::beginEvent(std::string("long"));
    drain();
    clock().jump(7200);
    Tally::endEvent(std::string("long"));
    drain();
    EXPECT_TRUE(core()->events().empty());
    EXPECT_TRUE(core()->eventBeginTimes().begin()->second.empty());
}

TEST_F(TallyCoreTest, TimedKeyValueEvents) {
    activate();
    Dictionary attributes{{"car", "GT"}};
    Tally::beginEvent(std::string("tune"), std::string("pk"), attributes);
    Tally::beginEvent(std::string("tune"), std::string(""), attributes);       // refused: blank key
    Tally::beginEvent(std::string("tune"), std::string("pk2"), Dictionary());  // refused: no attributes
    drain();
    clock().jump(1.5);
    Tally::endEventPrimaryKey(std::string("tune"), std::string("pk"));
    drain();
    ASSERT_EQ(core()->ekv().size(), 1u);
    EXPECT_EQ(ekvAt(0)->du, 1500);
    EXPECT_EQ(*ekvAt(0)->values["car"].string(), "GT");
}

TEST_F(TallyCoreTest, KeyValueDurationsAreHeldToThirtyTwoBits) {
    // Begun this long ago (seconds), the duration reads (milliseconds): the half milliseconds keep
    // the truncation clear of the clock's rounding.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double ago;
        std::int32_t du;
    } cases[] = {{2147483.6465, 2147483646}, {2147483.6475, 2147483647},       {2147483.6485, 2147483647},
                 {30 * 86400.0, 2147483647}, {-30 * 86400.0, -2147483647 - 1}, {nan, 0}};
    auto kv = make<TANEkv>();
    for (const auto& c : cases) {
        kv->ts = clock().now() - c.ago;
        kv->updateDu();
        EXPECT_EQ(kv->du, c.du) << c.ago;
    }
    // A key-value event ended a month after it began is past the two-hour limit, not a short one.
    activate();
    Tally::beginEvent(std::string("tune"), std::string("pk"), Dictionary{{"car", "GT"}});
    drain();
    clock().jump(30 * 86400.0);
    Tally::endEventPrimaryKey(std::string("tune"), std::string("pk"));
    drain();
    EXPECT_TRUE(core()->ekv().empty());
}

TEST_F(TallyCoreTest, UnknownItemTypesAreLogged) {
    TallyApp::setLogEnabled(true);
    TAWorkDispatch::sendEvent(Value(), 14);
    TAWorkDispatch::sendEvent(Value(), -1);
    TAWorkDispatch::sendEvent(Value(), 3);  // nothing posts errors this way, but it is handled
    drain();
    EXPECT_EQ(log_.count("WARNING: unkown event type"), 2);
}

// ---------------------------------------------------------------------------------------------
// Entry checks

TEST_F(TallyCoreTest, EventIdsAreCheckedInBytes) {
    activate();
    Tally::event(std::string(128, 'a'));
    Tally::event(std::string(129, 'a'));
    std::string wide;
    for (int i = 0; i < 43; ++i) wide += "改";
    Tally::event(wide);
    Tally::event(std::string(" \n"));
    Tally::event(std::nullopt);
    drain();
    EXPECT_EQ(core()->events().size(), 1u);
    EXPECT_EQ(log_.count("TALOG: (Warning) event_id ("), 2);
}

TEST_F(TallyCoreTest, CountsDurationsAndLabels) {
    activate();
    Tally::eventDurations(std::string("d0"), 0);
    Tally::eventDurations(std::string("too-long"), 7200000);
    Tally::eventDurations(std::string("l0"), std::string("lab"), 0);
    Tally::eventDurations(std::string("l1"), std::string("lab"), 7200000);
    Tally::eventDurations(std::string("l2"), std::string("lab"), 7199999);
    Tally::event(std::string("acc"), std::int64_t{5000000000});
    Tally::event(std::string("label"), std::string(""));
    drain();
    EXPECT_EQ(eventIds(), (std::vector<std::string>{"d0", "l2", "acc", "label"}));
    EXPECT_EQ(eventAt(0)->du, 0);
    EXPECT_EQ(eventAt(1)->du, 7199999);
    EXPECT_EQ(eventAt(2)->acc, 5000000000);
    EXPECT_FALSE(eventAt(3)->label);
}

TEST_F(TallyCoreTest, KeyValueAttributesAreLimited) {
    activate();
    Dictionary twelve = Dictionary::mutableDictionary();
    twelve.setObject("__ct__", "7");
    for (int i = 0; i < 11; ++i) twelve.setObject(NSString::stringWithFormat("k%02d", i), "v");
    Tally::event(std::string("kv12"), std::optional<Dictionary>(twelve));
    Dictionary eleven = Dictionary::mutableDictionary();
    eleven.setObject("__ct__", "7");
    for (int i = 0; i < 10; ++i) eleven.setObject(NSString::stringWithFormat("k%02d", i), "v");
    Tally::event(std::string("kv11"), std::optional<Dictionary>(eleven));
    drain();
    ASSERT_EQ(core()->ekv().size(), 2u);
    EXPECT_EQ(ekvAt(0)->values.count(), 11u);
    EXPECT_TRUE(ekvAt(0)->values.containsKey("__ct__"));
    EXPECT_FALSE(ekvAt(0)->values.containsKey("k10"));
    EXPECT_EQ(ekvAt(1)->values.count(), 11u);
}

TEST_F(TallyCoreTest, ReservedKeysAndNonStringValues) {
    activate();
    Tally::event(std::string("bad"), std::optional<Dictionary>(Dictionary{{"ts", "1"}}));
    Tally::event(std::string("num"), std::optional<Dictionary>(Dictionary{{"n", 3}, {"s", "x"}}));
    TallyEvent::gameEvent(std::string("game"), Dictionary{{"n", 3}});
    Tally::event(std::string("long"),
                 std::optional<Dictionary>(Dictionary{{std::string(130, 'k'), std::string(300, 'v')}}));
    drain();
    EXPECT_TRUE(log_.contains("关键字id, ts, du是TallySDK保留字段"));
    EXPECT_TRUE(log_.contains("key's max length 128 and value's max length 256"));
    ASSERT_EQ(core()->ekv().size(), 3u);
    EXPECT_FALSE(ekvAt(0)->values.containsKey("n"));
    EXPECT_EQ(*ekvAt(1)->type, "gkv");
    EXPECT_EQ(ekvAt(1)->values["n"].intValue(), 3);
    auto [key, value] = *ekvAt(2)->values.begin();
    EXPECT_EQ(key.size(), 128u);
    EXPECT_EQ(value.string()->size(), 256u);
}

TEST_F(TallyCoreTest, CounterReplacesAnEarlierCounter) {
    activate();
    Tally::event(std::string("c"), std::optional<Dictionary>(Dictionary{{"__ct__", "1"}, {"a", "b"}}), 42);
    drain();
    ASSERT_EQ(core()->ekv().size(), 1u);
    EXPECT_EQ(*ekvAt(0)->values["__ct__"].string(), "42");
    Tally::eventAttributesDurations(std::string("d"), Dictionary{{"a", "b"}}, 0);
    Tally::eventAttributesDurations(std::string("d"), Dictionary{{"a", "b"}}, 1500);
    drain();
    ASSERT_EQ(core()->ekv().size(), 2u);
    EXPECT_EQ(ekvAt(1)->du, 1500);
}

TEST_F(TallyCoreTest, PublicSettings) {
    Tally::setLogSendInterval(89.9);
    EXPECT_TRUE(log_.contains("ERROR: can't less 90s for log send interval."));
    EXPECT_TRUE(TallyConfig::configureWithKey("umcReportInterval").isNil());
    Tally::setLogSendInterval(90);
    EXPECT_EQ(TallyConfig::configureWithKey("umcReportInterval").doubleValue(), 90);
    Tally::setLatency(5000);
    EXPECT_EQ(TallyJob::sharedInstance()->latency_sdk(), 1800);
    Tally::setLatency(-1);
    EXPECT_EQ(TallyJob::sharedInstance()->latency_sdk(), 1800);
    Tally::setLatency(30);
    EXPECT_EQ(TallyJob::sharedInstance()->latency_sdk(), 30);
    Tally::setWrapperType(std::string("unity"), std::string("1.0"));
    Tally::setWrapperType(std::string(""));
    EXPECT_EQ(*core()->wrapperType(), "unity");
    EXPECT_FALSE(Tally::isJailbroken());
}

TEST_F(TallyCoreTest, StartUpStoresTheKeyAndBeginsTheFirstSession) {
    int posted = 0;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        std::string("umGotAppkeyNotification"), nullptr, nullptr,
        [&](const Ref<NSNotification>&) { ++posted; });
    Tally::startWithAppkey(std::string(" "));
    EXPECT_TRUE(log_.contains("appkey can not be found or not valid."));
    Tally::startWithAppkey(std::string("0123456789abcdef01234567"), 6, std::string("Beta"));
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(*TallyConfig::configureWithKey("appkey").string(), "0123456789abcdef01234567");
    EXPECT_EQ(TallyConfig::configureWithKey("umcReportPolicy").intValue(), 6);
    EXPECT_EQ(TallyApp::sharedInstance()->channel(), "Beta");
    EXPECT_EQ(session()->sessionStatus(), 0);  // the first session begins on the main thread
    drain();
    EXPECT_EQ(session()->sessionStatus(), 1);
    Tally::startWithAppkey(std::string("ffffffffffffffffffffffff"));
    EXPECT_TRUE(log_.contains("WARNING: Appkey is different from the past."));
    // The application's notifications now drive sessions.
    auto app = UIApplication::sharedApplication();
    app->simulateDidBecomeActive();
    app->simulateWillResignActive();
    EXPECT_EQ(session()->sessionStatus(), 2);
    app->simulateDidBecomeActive();
    EXPECT_EQ(session()->sessionStatus(), 1);
    drain();
    NSNotificationCenter::defaultCenter()->removeObserver(token);
    TallyInternal::sharedInstance()->sendLogQueue()->waitUntilAllOperationsAreFinished(10);
}

}  // namespace

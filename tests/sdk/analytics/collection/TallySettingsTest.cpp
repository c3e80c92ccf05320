// The settings store: send interval and report policy rules, the persistent keys, the location
// store and the crash-capture switch.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "foundation/NSNotificationCenter.h"
#include "sdk/analytics/collection/Tally.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "tests/support/TestCollector.h"

namespace {

using testsupport::TestCollector;

class TallySettingsTest : public tallytest::TallyTest {
  protected:
    void storeImprint(const std::vector<std::pair<std::string, std::optional<std::string>>>& values) {
        TallyConfig::setConfigure(Value(*detail::tallyWriteRecord(*TestCollector::makeImprint(values))),
                                  "umImprint");
    }
};

TEST_F(TallySettingsTest, SendIntervalRules) {
    EXPECT_EQ(TallyApp::minReportInterval(), 90);
    TallyConfig::setConfigure(Value(30), "umcReportInterval");
    EXPECT_EQ(TallyApp::minReportInterval(), 90);
    TallyConfig::setConfigure(Value(300), "umcReportInterval");
    EXPECT_EQ(TallyApp::minReportInterval(), 300);
    TallyConfig::setConfigure(Value(200), "tally_report_interval");
    EXPECT_EQ(TallyApp::minReportInterval(), 200);
    storeImprint({{"report_interval", "100000"}});
    EXPECT_EQ(TallyApp::minReportInterval(), 90);
    storeImprint({{"report_interval", "600"}});
    EXPECT_EQ(TallyApp::minReportInterval(), 600);
    storeImprint({{"report_interval", "600"}, {"test_report_interval", "120"}});
    TallyConfig::setConfigure(Value(6), "umExperimentRPT");
    EXPECT_EQ(TallyApp::minReportInterval(), 120);
    EXPECT_EQ(TallyApp::sharedInstance()->reportPolicy(), 6);
    storeImprint({{"report_interval", "600"}, {"test_report_interval", "120"}, {"integrated_test", "1"}});
    EXPECT_EQ(TallyApp::minReportInterval(), 600);
}

TEST_F(TallySettingsTest, ReportPolicyRules) {
    auto app = TallyApp::sharedInstance();
    EXPECT_EQ(app->reportPolicy(), 1);
    TallyConfig::setConfigure(Value(5u), "umcReportPolicy");
    EXPECT_EQ(app->reportPolicy(), 1);
    TallyConfig::setConfigure(Value(0u), "umcReportPolicy");
    EXPECT_EQ(app->reportPolicy(), 1);
    TallyConfig::setConfigure(Value(8u), "umcReportPolicy");
    EXPECT_EQ(app->reportPolicy(), 8);
    TallyConfig::setConfigure(Value(6), "report_policy");
    EXPECT_EQ(app->reportPolicy(), 6);
    storeImprint({{"report_policy", "9"}});
    EXPECT_EQ(app->reportPolicy(), 1);
    storeImprint({{"report_policy", "0"}, {"integrated_test", "1"}});
    EXPECT_EQ(app->reportPolicy(), 0);
    EXPECT_EQ(TallyApp::verifyReportPolicy(-4), 1);
    EXPECT_TRUE(TallyApp::isIntegratedTestModel());
}

TEST_F(TallySettingsTest, StoreKeysAndCounters) {
    TallyConfig::setConfigure(Value(), "k");
    TallyConfig::setConfigure(Value(1), " ");
    EXPECT_TRUE(TallyConfig::configureWithKey("k").isNil());
    TallyConfig::accumulateCount(3, "absent");
    EXPECT_EQ(TallyConfig::configureWithKey("absent").intValue(), 3);
    TallyConfig::accumulateCount(-1, "absent");
    EXPECT_EQ(TallyConfig::configureWithKey("absent").intValue(), 2);
    TallyConfig::incrementRequest(true, 0);
    TallyConfig::incrementRequest(false, 250);
    EXPECT_EQ(TallyConfig::configureWithKey("umSuccessfulRequests").intValue(), 1);
    EXPECT_EQ(TallyConfig::configureWithKey("umFailedRequests").intValue(), 1);
    EXPECT_EQ(TallyConfig::configureWithKey("umLastRequestSpentMS").intValue(), 250);
    TallyConfig::setLastPostDate();
    EXPECT_DOUBLE_EQ(TallyConfig::configureWithKey("lastPostInterval").doubleValue(), clock().now());
    EXPECT_EQ(TallyConfig::configureWithKey("lastPostDate").string()->size(), 10u);
    // Persisted at once: a fresh defaults object reads them back.
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(TallyConfig::configureWithKey("absent").intValue(), 2);
    TallyConfig::removeConfigureWithKey("absent");
    EXPECT_TRUE(TallyConfig::configureWithKey("absent").isNil());
}

TEST_F(TallySettingsTest, ConcurrentCountersLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 25; ++i) TallyConfig::incrementRequest(true, 1);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(TallyConfig::configureWithKey("umSuccessfulRequests").intValue(), 100);
}

TEST_F(TallySettingsTest, LocationNeedsBothCoordinates) {
    TallyLocation::setLatitude(31.2, 121.5);
    TallyLocation::setLatitude(0, 120);
    auto store = TallyLocation::sharedInstance();
    EXPECT_EQ(store->latitude(), 31.2);
    EXPECT_EQ(store->longitude(), 121.5);
    EXPECT_EQ(store->gps_time(), clock().now());
    struct Coordinate {
        double latitude, longitude;
    };
    struct Location {
        Coordinate coordinate() const { return {22.5, 114.1}; }
    };
    TallyLocation::setLocation(Location());
    EXPECT_EQ(store->latitude(), 22.5);
}

TEST_F(TallySettingsTest, DescriptionAndDefaults) {
    auto app = TallyApp::sharedInstance();
    EXPECT_TRUE(app->crashReportEnabled());
    EXPECT_TRUE(app->backgroundTaskEnabled());
    EXPECT_FALSE(app->logEnabled());
    EXPECT_EQ(app->channel(), "App Store");
    EXPECT_EQ(*app->appVersion(), "1.0");
    EXPECT_EQ(
        app->description().rfind("<TallyApp: logEnabled=0, crashReportEnabled=1, sendInterval=90.000000", 0),
        0u)
        << app->description();
}

TEST_F(TallySettingsTest, CrashSwitchListensOnceAndCanListenAgain) {
    TallyApp::setLogEnabled(true);
    int recorded = 0;
    // Each record writes its console line; the session end then moves it to the cache file.
    auto count = [&] { recorded = log_.count("TALOG: error: "); };
    Tally::setCrashReportEnabled(true);
    Tally::setCrashReportEnabled(true);
    EXPECT_TRUE(TallyApp::sharedInstance()->appCrashedHandlerInstalled());
    auto crash = make<TallyCrashException>("n", "boom");
    NSNotificationCenter::defaultCenter()->postNotificationName("TallyCrashCatch", crash);
    count();
    EXPECT_EQ(recorded, 1);  // one listener, one record
    Tally::setCrashReportEnabled(false);
    NSNotificationCenter::defaultCenter()->postNotificationName("TallyCrashCatch", crash);
    count();
    EXPECT_EQ(recorded, 1);
    Tally::setCrashReportEnabled(true);
    NSNotificationCenter::defaultCenter()->postNotificationName("TallyCrashCatch", crash);
    count();
    EXPECT_EQ(recorded, 2);
    TallyUncaughtExceptionHandler::uninstallCrashHandlers();
}

}  // namespace

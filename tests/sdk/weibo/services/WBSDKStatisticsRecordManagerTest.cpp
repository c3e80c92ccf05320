// The statistics manager end to end against the stand-in open API: registration records an app
// start and uploads it; page views, events and app ends go through the store; an upload sends
// exactly those records, signed and compressed, and deletes exactly the rows it sent once the
// reply says "OK"; the 30-second rule and the one-day window on the manual clock; failures and odd
// replies delete nothing; the switch and the settings.

#include <gtest/gtest.h>

#include "foundation/NSJSONSerialization.h"
#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"
#include "tests/sdk/weibo/services/WeiboServicesTestSupport.h"
#include "uikit/UIApplication.h"

using weiboservicestest::LogCapture;
namespace Statistics = WeiboSDK_Statistics;

namespace {

class StatisticsManagerTest : public weiboservicestest::ServicesTest {
  protected:
    void SetUp() override {
        ServicesTest::SetUp();
        // No aid in these tests unless one says so: the aid peer refuses.
        peer_->setAidReply(devserver::Reply::jsonValue(Value(Dictionary{{"error", "no aid here"}})));
    }
    // Registration with the switch on: the services start.
    void registerWithStatistics(bool enabled = true) {
        Statistics::setStatisticsEnabled(enabled);
        WeiboSDKServices::attach();
        ASSERT_TRUE(WeiboSDK::registerApp(std::string("123456")));
        settle();
    }
    // Registration, then the start record's upload. The manual clock stands still, and an upload
    // sends what was recorded before its own moment, so the clock moves on first.
    void registerAndSendTheStart() {
        registerWithStatistics();
        clock_->advance(1);
        WBSDKStatisticsRecordManager::instance()->forceUpload();
        ASSERT_EQ(uploadsAfter(1), 1u);
    }
    // Waits for the peer to have that many uploads and for their replies to be handled.
    std::size_t uploadsAfter(std::size_t expected) {
        pumpUntil([&] { return peer_->uploads().size() >= expected; });
        settle();
        pumpUntil([] { return WBSDKStatisticsRecordManager::instance()->uploadsInFlight() == 0; });
        settle();
        return peer_->uploads().size();
    }
    // Lets an attempt run to its end, whether or not it sends anything.
    void attemptSettles() {
        settle();
        pumpUntil([] { return WBSDKStatisticsRecordManager::instance()->uploadsInFlight() == 0; });
        settle();
    }
    // The "type" of every record of an upload, in order.
    std::vector<long long> types(const devserver::WeiboOpenAPIPeer::Upload& upload) {
        std::vector<long long> out;
        for (const auto& r : upload.records) out.push_back(r["type"].longLongValue());
        return out;
    }
};

TEST_F(StatisticsManagerTest, TheSignatureVectors) {
    EXPECT_EQ(WBSDKStatisticsRecordManager::signature(std::nullopt, "123456", 1400000000), "1b96433");
    EXPECT_EQ(WBSDKStatisticsRecordManager::signature(std::string("01AbCdEf"), "123456", 1400000000),
              "54c46ca");
    EXPECT_EQ(devserver::weiboStatisticsSignature("", "123456", 1400000000), "1b96433");
    EXPECT_EQ(devserver::weiboStatisticsSignature("01AbCdEf", "123456", 1400000000), "54c46ca");
}

TEST_F(StatisticsManagerTest, RecordEntries) {
    clock_->jump(0.4);  // x.9 s
    auto page = WBSDKStatisticsRecord::recordWithEventID(std::nullopt, std::string("home"), std::nullopt, 2);
    page->setDuration(12.8);
    EXPECT_EQ(WBSDKStatisticsRecordManager::uploadFormatForRecord(page),
              "{\"type\":2,\"time\":1700000000,\"page_id\":\"home\",\"duration\":12}");
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject("k", "v");
    info.setObject("n", 2);
    auto event = WBSDKStatisticsRecord::recordWithEventID(std::string("tap"), std::string(""), info, 3);
    EXPECT_EQ(WBSDKStatisticsRecordManager::uploadFormatForRecord(event),
              "{\"type\":3,\"time\":1700000000,\"event_id\":\"tap\",\"extend\":\"k:v|n:2\"}");
    EXPECT_EQ(WBSDKStatisticsRecordManager::uploadFormatForRecordUserInfo(std::nullopt), "");
    EXPECT_EQ(WBSDKStatisticsRecordManager::uploadFormatForRecordUserInfo(Dictionary{}), "");
    EXPECT_EQ(WBSDKStatisticsRecordManager::keyForRecordWithEventID(std::nullopt, std::string("home"), 2),
              "home_(null)_2");
}

TEST_F(StatisticsManagerTest, AnEnvelopeWithoutAnAidLeavesItOut) {
    WeiboSDK::registerApp(std::string("123456"));
    auto start = WBSDKStatisticsRecord::recordWithEventID(std::nullopt, std::nullopt, std::nullopt, 0);
    std::string text = WBSDKStatisticsRecordManager::uploadFormatWithRecords({start}, 1400000000);
    EXPECT_EQ(
        text,
        "{\"time\":1400000000,\"appkey\":\"123456\",\"platform\":\"iOS\",\"packagename\":\"com.example."
        "tuning\","
        "\"key_hash\":\"7c3e91a05fd24b6e8a17c9d2e0b4f583\",\"channel\":\"AppStore\",\"version\":\"2.3\","
        "\"content\":[\"{\\\"type\\\":0,\\\"time\\\":1700000000}\"],\"length\":1,\"sign\":\"1b96433\"}");
    WeiboSDK::setAidProviders(nullptr, [] { return std::optional<std::string>("01AbCdEf"); });
    text = WBSDKStatisticsRecordManager::uploadFormatWithRecords({}, 1400000000);
    EXPECT_EQ(text.rfind("{\"aid\":\"01AbCdEf\",\"time\":1400000000", 0), 0u);
    EXPECT_NE(text.find("\"content\":[],\"length\":0,\"sign\":\"54c46ca\""), std::string::npos);
}

TEST_F(StatisticsManagerTest, RegistrationRecordsAStartAndUploadsItSignedAndCompressed) {
    clock_.reset();  // real time: the registration's own upload finds the start record
    double before = NSDate::date().timeIntervalSince1970();
    registerWithStatistics();
    ASSERT_EQ(uploadsAfter(1), 1u) << (peer_->refusals().empty() ? "" : peer_->refusals()[0]);
    auto upload = peer_->uploads()[0];
    EXPECT_EQ(upload.source, "123456");
    EXPECT_EQ(upload.envelope["packagename"], Value("com.example.tuning"));
    EXPECT_GE(upload.envelope["time"].doubleValue(), std::floor(before));
    EXPECT_EQ(types(upload), (std::vector<long long>{0}));
    EXPECT_TRUE(peer_->refusals().empty());
    EXPECT_TRUE(rows().empty());  // deleted after the "OK"
    EXPECT_GE(WBSDKStatisticsRecordManager::lastUploadSuccessTimestamp(), before);
}

TEST_F(StatisticsManagerTest, PagesEventsAndEndsAreSentOnTheNextUpload) {
    registerAndSendTheStart();
    // Each step is let run on the manager's queue before the clock moves on.
    Statistics::beginLogPageView(std::string("home"));
    settle();
    clock_->advance(2);
    Statistics::beginLogPageView(std::string("home"));  // replaces the pending one
    settle();
    clock_->advance(5);
    Statistics::endLogPageView(std::string("home"));
    Statistics::endLogPageView(std::string("never-begun"));  // no record
    Statistics::event(std::string("tap"), std::string("home"), Dictionary{{"k", "v"}});
    Statistics::beginLogEvent(std::string("timed"));  // not recorded
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationDidEnterBackgroundNotification);
    settle();
    EXPECT_EQ(rows().size(), 3u);
    clock_->advance(30);
    Statistics::forceUploadRecords();
    ASSERT_EQ(uploadsAfter(2), 2u);
    auto upload = peer_->uploads()[1];
    EXPECT_EQ(types(upload), (std::vector<long long>{2, 3, 1}));
    EXPECT_EQ(upload.records[0]["duration"], Value(5));
    EXPECT_EQ(upload.records[0]["page_id"], Value("home"));
    EXPECT_EQ(upload.records[1]["extend"], Value("k:v"));
    EXPECT_FALSE(upload.records[2].containsKey("page_id"));  // stored empty, sent without
    EXPECT_TRUE(rows().empty());
}

TEST_F(StatisticsManagerTest, WithinThirtySecondsOfASuccessNothingIsSent) {
    registerAndSendTheStart();
    LogCapture log;
    Statistics::event(std::string("a"));
    settle();
    clock_->advance(30);  // exactly 30: not above
    Statistics::forceUploadRecords();
    attemptSettles();
    EXPECT_EQ(peer_->uploads().size(), 1u);
    EXPECT_TRUE(
        log.contains("Cannot do the upload process, the time from last uploadTime is not above 30 seconds!"));
    clock_->advance(1);
    Statistics::forceUploadRecords();
    EXPECT_EQ(uploadsAfter(2), 2u);
}

TEST_F(StatisticsManagerTest, OnlyTheLastDayIsSent) {
    registerAndSendTheStart();
    Statistics::event(std::string("old"));
    settle();
    clock_->jump(86401);
    Statistics::event(std::string("new"));
    settle();
    clock_->advance(1);
    Statistics::forceUploadRecords();
    ASSERT_EQ(uploadsAfter(2), 2u);
    auto upload = peer_->uploads()[1];
    ASSERT_EQ(upload.records.size(), 1u);
    EXPECT_EQ(upload.records[0]["event_id"], Value("new"));
    // The old row is not sent, and not deleted by the upload either.
    auto left = rows();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0]->eventID(), "old");
}

TEST_F(StatisticsManagerTest, OldRowsGoAtTheNextStart) {
    registerAndSendTheStart();
    Statistics::event(std::string("old"));
    settle();
    clock_->jump(86401);
    wbsdk_testing::resetStatisticsManager();  // a new process
    WBSDKStatisticsRecordManager::instance();
    settle();
    EXPECT_TRUE(rows().empty());
}

TEST_F(StatisticsManagerTest, FailedAndOddRepliesDeleteNothing) {
    registerAndSendTheStart();
    Statistics::setUploadFrequecy(28800);  // the timer stays out of the way
    std::vector<devserver::Reply> replies = {
        devserver::Reply::jsonValue(Value(Dictionary{{"result", "ok"}})),
        devserver::Reply::jsonValue(Value(Array{Dictionary{{"result", "OK"}}})),
        devserver::Reply::bytes("OK", "text/plain"),
        devserver::Reply::bytes("", "text/plain"),
        devserver::Reply::jsonValue(Value(Dictionary{{"result", "OK"}}), 500),
    };
    double lastSuccess = WBSDKStatisticsRecordManager::lastUploadSuccessTimestamp();
    Statistics::event(std::string("keep"));
    settle();
    std::size_t expected = 1;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        peer_->setUploadReply(replies[i]);
        clock_->advance(31);
        Statistics::forceUploadRecords();
        ASSERT_EQ(uploadsAfter(++expected), expected) << i;
        if (i + 1 < replies.size()) {
            EXPECT_EQ(rows().size(), 1u) << i;
            EXPECT_EQ(WBSDKStatisticsRecordManager::lastUploadSuccessTimestamp(), lastSuccess) << i;
        }
    }
    // A 500 with an "OK" body: the body is what counts.
    EXPECT_TRUE(rows().empty());
}

TEST_F(StatisticsManagerTest, ATransportFailureDeletesNothingAndTheNextTriggerRetries) {
    registerAndSendTheStart();
    Statistics::event(std::string("keep"));
    settle();
    std::string root = WeiboSDK::openAPIRoot();
    WeiboSDK::setOpenAPIRoot(std::string("http://127.0.0.1:1"));
    clock_->advance(31);
    Statistics::forceUploadRecords();
    attemptSettles();
    EXPECT_EQ(rows().size(), 1u);
    WeiboSDK::setOpenAPIRoot(root);
    Statistics::forceUploadRecords();  // at once: only a success starts the 30 seconds
    ASSERT_EQ(uploadsAfter(2), 2u);
    EXPECT_TRUE(rows().empty());
}

TEST_F(StatisticsManagerTest, RecordsMadeDuringAnUploadStay) {
    registerAndSendTheStart();
    Statistics::event(std::string("sent"));
    settle();
    clock_->advance(31);
    // The clock stands still: the next record has the upload's own "now", outside what it sends.
    auto manager = WBSDKStatisticsRecordManager::instance();
    manager->forceUpload();
    Statistics::event(std::string("during"));
    ASSERT_EQ(uploadsAfter(2), 2u);
    auto upload = peer_->uploads()[1];
    ASSERT_EQ(upload.records.size(), 1u);
    EXPECT_EQ(upload.records[0]["event_id"], Value("sent"));
    auto left = rows();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0]->eventID(), "during");
}

TEST_F(StatisticsManagerTest, TheTimerUploadsEveryPeriod) {
    registerAndSendTheStart();
    Statistics::event(std::string("a"));
    settle();
    clock_->advance(90);
    EXPECT_EQ(uploadsAfter(2), 2u);
    Statistics::setUploadFrequecy(300);
    Statistics::event(std::string("b"));
    settle();
    clock_->advance(100);
    settle();
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(peer_->uploads().size(), 2u);
    clock_->advance(200);
    EXPECT_EQ(uploadsAfter(3), 3u);
    auto timer = WBSDKStatisticsRecordManager::instance()->uploadTimer();
    ASSERT_TRUE(timer);
    EXPECT_DOUBLE_EQ(timer->timeInterval(), 300);
}

TEST_F(StatisticsManagerTest, WithTheSwitchOffNothingIsRecordedOrSent) {
    registerWithStatistics(false);
    EXPECT_FALSE(WBSDKStatisticsRecordManager::sharedManager());
    Statistics::event(std::string("a"));
    WBSDKStatisticsRecordManager::instance()->event(std::string("direct"), std::nullopt, std::nullopt);
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationDidEnterBackgroundNotification);
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationWillEnterForegroundNotification);
    clock_->advance(200);
    settle();
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(peer_->uploads().empty());
    Statistics::setStatisticsEnabled(true);
    EXPECT_TRUE(WBSDKStatisticsRecordManager::sharedManager());
}

TEST_F(StatisticsManagerTest, Settings) {
    LogCapture log;
    using M = WBSDKStatisticsRecordManager;
    EXPECT_EQ(M::channelID(), "AppStore");
    EXPECT_EQ(M::versionString(), "2.3");
    EXPECT_EQ(M::uploadFrequency(), 90);
    Statistics::setChannelID(std::string("store-2"));
    Statistics::setChannelID(std::nullopt);
    Statistics::setVersion(std::string("9.9"));
    EXPECT_EQ(M::channelID(), "store-2");
    EXPECT_EQ(M::versionString(), "9.9");
    Statistics::setUploadFrequecy(30);
    EXPECT_EQ(M::uploadFrequency(), 30);
    Statistics::setUploadFrequecy(28800);
    EXPECT_EQ(M::uploadFrequency(), 28800);
    Statistics::setUploadFrequecy(29.9);
    Statistics::setUploadFrequecy(28800.1);
    EXPECT_EQ(M::uploadFrequency(), 28800);
    EXPECT_EQ(log.count("Can't not be set below 30 seconds or above 8 hours"), 2);
    NSUserDefaults::standardUserDefaults()->setDouble(kWBSDKStatisticsManagerFrquency, 5);
    EXPECT_EQ(M::uploadFrequency(), 90);
    Statistics::setStatisticsLogEnabled(true);
    EXPECT_TRUE(M::enableDebugLog());
}

TEST_F(StatisticsManagerTest, TheTraceIsWrittenOnlyInDebugMode) {
    LogCapture log;
    registerAndSendTheStart();
    EXPECT_FALSE(log.contains("AppStart atTime:"));
    Statistics::setStatisticsLogEnabled(true);
    Statistics::beginLogPageView(std::string("p"));
    Statistics::endLogPageView(std::string("p"));
    settle();
    EXPECT_TRUE(log.contains("Begin PageView:'p' atTime:"));
    EXPECT_TRUE(log.contains("End PageView:'p', atTime:"));
}

}  // namespace

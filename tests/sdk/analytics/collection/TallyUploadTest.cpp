// Envelopes posted to a collector on 127.0.0.1: headers, body, the reply record and its imprint,
// and what happens to the file for every kind of answer.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "foundation/NSFileManager.h"
#include "sdk/analytics/collection/TANWorker.h"
#include "sdk/analytics/collection/Tally.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "sdk/analytics/collection/TallySession.h"
#include "tests/support/TestCollector.h"

namespace {

using testsupport::TestCollector;

constexpr char kAppKey[] = "0123456789abcdef01234567";

class TallyUploadTest : public tallytest::TallyTest {
  protected:
    void SetUp() override {
        TallyTest::SetUp();
        TANWorker::setCollectorURLs(std::vector<std::string>{collector_.url()});
        TANWorker::setRequestTimeout(5.0);
        TallyConfig::setConfigure(Value(std::string(kAppKey)), "appkey");
        TallyApp::sharedInstance()->setAppid(std::string(kAppKey));
        TallyConfig::setConfigure(Value(1LL), "umActivateMsg");
        TallySession::sharedInstance()->appActivate(nullptr);
        testsupport::drainMainRunLoop();
    }
    void TearDown() override {
        core()->sendLogQueue()->waitUntilAllOperationsAreFinished(20);
        TANWorker::setCollectorURLs(std::nullopt);
        TANWorker::setRequestTimeout(std::nullopt);
        TallyTest::TearDown();
    }

    Ref<TallyInternal> core() { return TallyInternal::sharedInstance(); }

    // Records an event and turns what is pending into an envelope file.
    void makeEnvelope(const std::string& eventId = "TuningCars") {
        Tally::event(eventId);
        testsupport::drainMainRunLoop();
        core()->generateEnvelopeFile();
    }
    void upload() {
        core()->beginPerformJob();
        ASSERT_TRUE(core()->sendLogQueue()->waitUntilAllOperationsAreFinished(20));
        EXPECT_FALSE(TallyJob::sharedInstance()->jobRunning());
    }
    int counter(const char* key) { return TallyConfig::configureWithKey(key).intValue(); }

    TestCollector collector_;
};

std::vector<std::string> eventNames(const Ref<TATUALogEntry>& report) {
    std::vector<std::string> names;
    if (!report || !report->instant_msgs()) return names;
    for (auto& message : *report->instant_msgs()) {
        if (!message->events()) continue;
        for (auto& event : *message->events()) names.push_back(event->name().value_or(""));
    }
    return names;
}

TEST_F(TallyUploadTest, AnAcceptedEnvelopeIsDecodedAndItsFileDeleted) {
    makeEnvelope();
    ASSERT_EQ(TallyUtility::envelopeFiles().size(), 1u);
    upload();
    ASSERT_EQ(collector_.receivedCount(), 1u);
    auto got = collector_.received()[0];
    EXPECT_TRUE(got.problems.empty()) << got.problems.front();
    EXPECT_EQ(got.request.path, "/app_logs");
    ASSERT_TRUE(got.report);
    EXPECT_EQ(eventNames(got.report), std::vector<std::string>{"TuningCars"});
    EXPECT_EQ(got.report->app_info()->key(), std::optional<std::string>(kAppKey));
    EXPECT_EQ(got.envelope->version(), std::optional<std::string>("V1.0"));
    EXPECT_EQ(got.envelope->codex(), 0);
    EXPECT_EQ(got.envelope->serial_num(), 1);
    EXPECT_NE(got.request.header("X-Tally-Sdk")->find(" iPhone"), std::string::npos);
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
    EXPECT_EQ(counter("umSuccessfulRequests"), 1);
    EXPECT_FALSE(TallyConfig::configureWithKey("lastPostInterval").isNil());
}

TEST_F(TallyUploadTest, TheSecondAddressIsTriedWhenTheFirstIsDown) {
    TANWorker::setCollectorURLs(std::vector<std::string>{TestCollector::unreachableURL(), collector_.url()});
    makeEnvelope();
    upload();
    EXPECT_EQ(collector_.receivedCount(), 1u);
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
    EXPECT_EQ(counter("umFailedRequests"), 1);
    EXPECT_EQ(counter("umSuccessfulRequests"), 1);
}

TEST_F(TallyUploadTest, AServerErrorKeepsTheFile) {
    collector_.setMode(TestCollector::Mode::HTTPError);
    collector_.setStatus(500);
    makeEnvelope();
    upload();
    EXPECT_EQ(collector_.receivedCount(), 1u);
    EXPECT_EQ(TallyUtility::envelopeFiles().size(), 1u);
    EXPECT_EQ(counter("umFailedRequests"), 1);
    // A later attempt that is accepted sends the same envelope.
    collector_.setMode(TestCollector::Mode::Accept);
    upload();
    EXPECT_EQ(collector_.receivedCount(), 2u);
    EXPECT_EQ(collector_.received()[0].request.body, collector_.received()[1].request.body);
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
}

TEST_F(TallyUploadTest, AForeignReplyKeepsTheFileAndCountsEachAddress) {
    TANWorker::setCollectorURLs(std::vector<std::string>{collector_.url(), collector_.url()});
    collector_.setMode(TestCollector::Mode::ForeignType);
    makeEnvelope();
    upload();
    EXPECT_EQ(collector_.receivedCount(), 2u);
    EXPECT_EQ(TallyUtility::envelopeFiles().size(), 1u);
    EXPECT_EQ(counter("umFailedRequests"), 2);
}

TEST_F(TallyUploadTest, EmptySlowAndDownCollectorsKeepTheFile) {
    TANWorker::setRequestTimeout(0.5);
    makeEnvelope();
    for (auto mode : {TestCollector::Mode::EmptyBody, TestCollector::Mode::Slow, TestCollector::Mode::Down}) {
        collector_.setMode(mode);
        collector_.setDelay(3);
        upload();
        EXPECT_EQ(TallyUtility::envelopeFiles().size(), 1u);
    }
    EXPECT_EQ(counter("umFailedRequests"), 3);
    EXPECT_EQ(counter("umSuccessfulRequests"), 0);
}

TEST_F(TallyUploadTest, AReplyRecordThatFailsStillTakesTheFile) {
    collector_.setReplyCode(0);
    makeEnvelope("first");
    upload();
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
    EXPECT_EQ(counter("umFailedRequests"), 1);
    collector_.setMode(TestCollector::Mode::Garbage);
    makeEnvelope("second");
    upload();
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
    EXPECT_EQ(counter("umFailedRequests"), 2);
}

TEST_F(TallyUploadTest, UnderBackOffAFailureDropsTheWholeBatch) {
    TANWorker::setCollectorURLs(std::vector<std::string>{TestCollector::unreachableURL(), collector_.url()});
    makeEnvelope("a");
    makeEnvelope("b");
    ASSERT_EQ(TallyUtility::envelopeFiles().size(), 2u);
    TallyJob::sharedInstance()->setDefcon(1);
    upload();
    EXPECT_EQ(collector_.receivedCount(), 0u);
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
}

TEST_F(TallyUploadTest, TheReplyImprintGovernsLaterReports) {
    collector_.setReplyImprint(TestCollector::makeImprint(
        {{"defcon", "7"}, {"report_interval", "600"}, {"codex", "1"}, {"umid", "U-1"}}, 3));
    makeEnvelope("plain");
    upload();
    EXPECT_EQ(*TallyConfig::configureWithKey("umDefcon").string(), "0");
    EXPECT_EQ(TallyJob::sharedInstance()->defcon(), 0);
    EXPECT_EQ(TallyApp::sharedInstance()->logSendInterval(), 600);
    EXPECT_EQ(TallyConfig::imprintPropertyValueWithKey("codex"), std::optional<std::string>("1"));
    // codex 1: the next envelope is encrypted, and the collector can still read it.
    makeEnvelope("secret");
    upload();
    ASSERT_EQ(collector_.receivedCount(), 2u);
    auto second = collector_.received()[1];
    EXPECT_EQ(second.envelope->codex(), 1);
    EXPECT_TRUE(second.problems.empty()) << second.problems.front();
    EXPECT_EQ(eventNames(second.report), std::vector<std::string>{"secret"});
    ASSERT_TRUE(second.report->imprint());
    EXPECT_EQ(second.report->imprint()->version(), 3);
    // The exchange file names the collector's id for this device.
    auto exchange = NSData::dataWithContentsOfFile(TallyUtility::exchangeIdentityPath());
    ASSERT_TRUE(exchange);
    EXPECT_NE(exchange->toString().find("\"umid\":\"U-1\""), std::string::npos);
}

TEST_F(TallyUploadTest, AnImprintWithABadChecksumIsIgnored) {
    auto imprint = TestCollector::makeImprint({{"report_policy", "6"}});
    imprint->setChecksum(std::string("0000"));
    collector_.setReplyImprint(imprint);
    makeEnvelope();
    upload();
    EXPECT_EQ(counter("umSuccessfulRequests"), 1);
    EXPECT_FALSE(TallyConfig::imprintPropertyValueWithKey("report_policy"));
}

TEST_F(TallyUploadTest, EncryptionAskedByTheApp) {
    Tally::setEncryptEnabled(true);
    makeEnvelope();
    upload();
    ASSERT_EQ(collector_.receivedCount(), 1u);
    auto got = collector_.received()[0];
    EXPECT_EQ(got.envelope->codex(), 1);
    EXPECT_TRUE(got.problems.empty()) << got.problems.front();
    EXPECT_EQ(eventNames(got.report), std::vector<std::string>{"TuningCars"});
}

TEST_F(TallyUploadTest, AtMostTenFilesGoOutOldestFirst) {
    for (int i = 0; i < 12; ++i) makeEnvelope(NSString::stringWithFormat("e%02d", i));
    ASSERT_EQ(TallyUtility::envelopeFiles().size(), 12u);
    upload();
    ASSERT_EQ(collector_.receivedCount(), 10u);
    EXPECT_EQ(eventNames(collector_.received()[0].report), std::vector<std::string>{"e02"});
    EXPECT_EQ(eventNames(collector_.received()[9].report), std::vector<std::string>{"e11"});
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
}

TEST_F(TallyUploadTest, IdTrackingJournalsAreSentOnceAccepted) {
    makeEnvelope("one");
    upload();
    auto first = collector_.received()[0].report;
    ASSERT_TRUE(first->id_tracking());
    EXPECT_FALSE(first->id_tracking()->journals()->empty());
    makeEnvelope("two");
    upload();
    auto second = collector_.received()[1].report;
    EXPECT_TRUE(!second->id_tracking()->journals() || second->id_tracking()->journals()->empty());
    EXPECT_FALSE(TallyConfig::configureWithKey("umIDTracking").isNil());
}

TEST_F(TallyUploadTest, RecordedItemsSurviveARestart) {
    Tally::event(std::string("before-restart"));
    Tally::beginLogPageView(std::string("Garage"));
    testsupport::drainMainRunLoop();
    clock().jump(5);
    Tally::endLogPageView(std::string("Garage"));
    testsupport::drainMainRunLoop();
    TallySession::sharedInstance()->appInactivate(nullptr);
    testsupport::drainMainRunLoop();
    ASSERT_TRUE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
    core()->sendLogQueue()->waitUntilAllOperationsAreFinished(20);

    // A new process: everything in memory is gone, the sandbox stays.
    detail::TallyResetForTesting();
    NSUserDefaults::resetStandardUserDefaults();
    Tally::startWithAppkey(std::string(kAppKey));
    testsupport::drainMainRunLoop();
    ASSERT_TRUE(core()->sendLogQueue()->waitUntilAllOperationsAreFinished(20));
    ASSERT_GE(collector_.receivedCount(), 1u);
    auto report = collector_.received().back().report;
    ASSERT_TRUE(report);
    EXPECT_EQ(eventNames(report), std::vector<std::string>{"before-restart"});
    ASSERT_TRUE(report->sessions());
    ASSERT_EQ(report->sessions()->size(), 1u);
    auto session = (*report->sessions())[0];
    ASSERT_TRUE(session->pages());
    EXPECT_EQ((*session->pages())[0]->page_name(), std::optional<std::string>("Garage"));
    EXPECT_EQ((*session->pages())[0]->duration(), 5000);
    EXPECT_FALSE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
}

TEST_F(TallyUploadTest, TheFirstReportOfAnInstallationCarriesTheActivation) {
    TallyConfig::removeConfigureWithKey("umActivateMsg");
    detail::TallyResetForTesting();
    TallyInternal::link();
    TallyApp::sharedInstance()->setAppid(std::string(kAppKey));
    TallySession::sharedInstance()->appActivate(nullptr);
    testsupport::drainMainRunLoop();
    ASSERT_TRUE(core()->sendLogQueue()->waitUntilAllOperationsAreFinished(20));
    ASSERT_EQ(collector_.receivedCount(), 1u);
    EXPECT_TRUE(collector_.received()[0].report->activate_msg());
    EXPECT_FALSE(TallyConfig::configureWithKey("umActivateMsg").isNil());
    makeEnvelope();
    upload();
    EXPECT_FALSE(collector_.received()[1].report->activate_msg());
}

}  // namespace

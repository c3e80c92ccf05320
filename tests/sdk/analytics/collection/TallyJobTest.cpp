// Send scheduling on the manual clock: report policies, back-off levels, latent sends.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "sdk/analytics/collection/TallySession.h"
#include "tests/support/TestCollector.h"

namespace {

using testsupport::TestCollector;

class TallyJobTest : public tallytest::TallyTest {
  protected:
    void SetUp() override {
        TallyTest::SetUp();
        TallySession::sharedInstance()->setSessionStatus(1);
    }
    Ref<TallyJob> job() { return TallyJob::sharedInstance(); }
    void policy(int p) { TallyConfig::setConfigure(Value(static_cast<unsigned>(p)), "umcReportPolicy"); }
    void postedAgo(double seconds) {
        TallyConfig::setConfigure(Value(clock().now() - seconds), "lastPostInterval");
    }
    void storeImprint(const std::vector<std::pair<std::string, std::optional<std::string>>>& values) {
        TallyConfig::setConfigure(Value(*detail::tallyWriteRecord(*TestCollector::makeImprint(values))),
                                  "umImprint");
    }
};

TEST_F(TallyJobTest, ElapsedTimeFromTheLastPost) {
    EXPECT_EQ(TallyJob::elapsedTimeFromPost(), -1.0);
    postedAgo(12.5);
    EXPECT_DOUBLE_EQ(TallyJob::elapsedTimeFromPost(), 12.5);
}

TEST_F(TallyJobTest, PolicyZeroWaitsFifteenSeconds) {
    storeImprint({{"integrated_test", "1"}, {"report_policy", "0"}});
    ASSERT_EQ(TallyApp::sharedInstance()->reportPolicy(), 0);
    EXPECT_TRUE(TallyJob::shouldCommitJob(1));  // never posted
    postedAgo(15.0);
    EXPECT_FALSE(TallyJob::shouldCommitJob(1));
    postedAgo(15.1);
    EXPECT_TRUE(TallyJob::shouldCommitJob(1));
}

TEST_F(TallyJobTest, PolicyOneSendsOnlyWhenASessionStarts) {
    policy(1);
    EXPECT_TRUE(TallyJob::shouldCommitJob(0));
    EXPECT_FALSE(TallyJob::shouldCommitJob(1));
}

TEST_F(TallyJobTest, PolicySixFollowsTheSendInterval) {
    policy(6);
    TallyApp::sharedInstance()->setLogSendInterval(120);
    postedAgo(120);
    EXPECT_FALSE(TallyJob::shouldCommitJob(1));
    postedAgo(121);
    EXPECT_TRUE(TallyJob::shouldCommitJob(1));
}

TEST_F(TallyJobTest, PolicyEightInTheForegroundAndTheBackground) {
    policy(8);
    postedAgo(10801);
    EXPECT_FALSE(TallyJob::shouldCommitJob(1));  // 36 h with background time
    postedAgo(129601);
    EXPECT_TRUE(TallyJob::shouldCommitJob(1));
    TallyApp::setBackgroundTaskEnabled(false);
    postedAgo(10801);
    EXPECT_TRUE(TallyJob::shouldCommitJob(1));  // 3 h without
    TallySession::sharedInstance()->setAppInBackGround(true);
    EXPECT_FALSE(TallyJob::shouldCommitJob(1));
    TallyApp::setBackgroundTaskEnabled(true);
    EXPECT_TRUE(TallyJob::shouldCommitJob(1));
}

TEST_F(TallyJobTest, NothingCommitsWhileTerminatingOrWaitingForALatentSend) {
    policy(1);
    job()->setBLatencyJob(true);
    EXPECT_FALSE(TallyJob::shouldCommitJob(0));
    job()->setBLatencyJob(false);
    TallySession::sharedInstance()->setAppBeKilling(true);
    EXPECT_FALSE(TallyJob::shouldCommitJob(0));
}

TEST_F(TallyJobTest, NoNetworkNeverCommits) {
    policy(1);
    tallytest::setNetworkAccess("");
    EXPECT_FALSE(TallyJob::shouldCommitJob(0));
    tallytest::setNetworkAccess("CellNetwork");
    EXPECT_TRUE(TallyJob::shouldCommitJob(0));
}

TEST_F(TallyJobTest, BackOffLevels) {
    job()->setDefcon(2);
    EXPECT_TRUE(TallyJob::defconPass());  // never posted
    postedAgo(28799);
    EXPECT_FALSE(TallyJob::defconPass());
    postedAgo(28800);
    EXPECT_TRUE(TallyJob::defconPass());
    job()->setDefcon(3);
    EXPECT_FALSE(TallyJob::defconPass());
    job()->setDefcon(1);
    EXPECT_TRUE(TallyJob::defconPass());
    job()->setDefcon(9);
    postedAgo(1);
    EXPECT_TRUE(TallyJob::defconPass());
    // The stored level is read again by every lookup.
    TallyConfig::setConfigure(Value("3"), "umDefcon");
    EXPECT_EQ(TallyJob::sharedInstance()->defcon(), 3);
}

TEST_F(TallyJobTest, LatentThresholds) {
    postedAgo(129600);
    EXPECT_FALSE(TallyJob::checkLatentCondition());
    postedAgo(129601);
    EXPECT_TRUE(TallyJob::checkLatentCondition());
    EXPECT_TRUE(job()->bDisguisedLatency());
    EXPECT_FALSE(job()->bLatencyJob());
    postedAgo(1296000);
    EXPECT_TRUE(TallyJob::checkLatentCondition());
    EXPECT_TRUE(job()->bLatencyJob());
    job()->setBLatencyJob(false);
    storeImprint({{"latent_hours", "47"}});
    postedAgo(172800);
    TallyJob::checkLatentCondition();
    EXPECT_FALSE(job()->bLatencyJob());
    storeImprint({{"latent_hours", "48"}});
    TallyJob::checkLatentCondition();
    EXPECT_TRUE(job()->bLatencyJob());
    job()->setBLatencyJob(false);
    job()->setDefcon(1);
    EXPECT_FALSE(TallyJob::checkLatentCondition());
}

TEST_F(TallyJobTest, LatenciesStayBelowOneHundredTwentyEight) {
    storeImprint({{"latent", "5000"}});
    for (int i = 0; i < 2000; ++i) {
        int latency = job()->calculateLatency();
        EXPECT_GE(latency, 0);
        EXPECT_LT(latency, 1800);  // the imprint's 5000 is capped
        // 128 to 255 come only from the rare long branch, whose seed is 128 without a signature.
        EXPECT_FALSE(latency >= 129 && latency <= 255) << latency;
    }
    storeImprint({{"latent", "-3"}});
    for (int i = 0; i < 100; ++i) EXPECT_LT(job()->calculateLatency(), 1800);  // a negative value caps too
    TallyConfig::removeConfigureWithKey("umImprint");
    for (int i = 0; i < 100; ++i) EXPECT_LT(job()->calculateLatency(), 10);
    EXPECT_EQ(job()->latency_sdk(), 10);
}

TEST_F(TallyJobTest, SeedsAndRandomRanges) {
    EXPECT_EQ(job()->latencySeed(), 0);
    EXPECT_EQ(job()->randomNumFrom(5, 5), 5);
    std::vector<std::uint8_t> signature(32, 0);
    signature[4] = 0x12;
    signature[5] = 0x34;  // "1234": the middle digits "23" = 35, with 128 ORed in
    TallyEnvelope::sharedInstance()->setSignatureWithData(NSData(signature.data(), signature.size()));
    EXPECT_EQ(job()->latencySeed(), 0x23 | 128);
}

TEST_F(TallyJobTest, ALatentSendWaitsForItsDelayOnTheMainRunLoop) {
    TallyApp::sharedInstance()->setAppid(std::string("0123456789abcdef01234567"));
    policy(1);
    postedAgo(1296000);
    TallyConfig::setConfigure(Value(1LL), "umActivateMsg");
    auto event = make<TANEvent>();
    event->event_id = "late";
    TallyInternal::sharedInstance()->events().push_back(event);
    TallyJob::preparePerformJob(0);
    EXPECT_TRUE(job()->bLatencyJob());
    // The envelope is made now, carrying the delay; the upload waits.
    auto files = TallyUtility::envelopeFiles();
    ASSERT_EQ(files.size(), 1u);
    auto decoded = TestCollector::decode(NSData::dataWithContentsOfFile(files[0])->toString());
    ASSERT_TRUE(decoded.report && decoded.report->control_policy());
    int delay = decoded.report->control_policy()->latent()->latency();
    EXPECT_EQ(job()->latency(), 0);
    EXPECT_FALSE(job()->jobRunning());
    clock().advance(delay + 1);
    EXPECT_FALSE(job()->bLatencyJob());
    TallyInternal::sharedInstance()->sendLogQueue()->waitUntilAllOperationsAreFinished(10);
}

TEST_F(TallyJobTest, ADisguisedSendGoesAtOnceAndSaysHowLongItWaited) {
    TallyApp::sharedInstance()->setAppid(std::string("0123456789abcdef01234567"));
    policy(1);
    postedAgo(200000);
    TallyConfig::setConfigure(Value(1LL), "umActivateMsg");
    auto event = make<TANEvent>();
    event->event_id = "x";
    TallyInternal::sharedInstance()->events().push_back(event);
    TallyJob::preparePerformJob(0);
    EXPECT_FALSE(job()->bLatencyJob());
    EXPECT_FALSE(job()->bDisguisedLatency());
    EXPECT_TRUE(job()->jobRunning() ||
                TallyInternal::sharedInstance()->sendLogQueue()->operationCount() == 0);
    TallyInternal::sharedInstance()->sendLogQueue()->waitUntilAllOperationsAreFinished(10);
}

TEST_F(TallyJobTest, DescriptionNamesTheState) {
    job()->setDefcon(2);
    EXPECT_EQ(job()->description(), "<TallyJob: self.defcon=2, self.latency=0, self.jobRunning=0>");
}

}  // namespace

// The aid across a restart: one process fetches it and ends without synchronizing the user
// defaults; the next process finds the aid and its "sub" stored and sends no request.

#include <gtest/gtest.h>

#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"
#include "tests/sdk/weibo/services/WeiboServicesTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

class AidAcrossARestart : public weiboservicestest::ServicesTest {};

TEST_F(AidAcrossARestart, TheAidFetchedByOneProcessIsReadByTheNextWithoutARequest) {
    peer_->setAid("01AbCdEf", "sub-1");
    std::string root = server_->baseURL();
    root.pop_back();
    auto run = testsupport::runChild(
        {AID_FETCHER, NSSandbox::root(), NSBundle::mainBundle()->resourcePath(), "com.example.tuning", root});
    ASSERT_TRUE(run.succeeded()) << "exit " << run.exitCode << " signal " << run.signal
                                 << (run.timedOut ? " (timed out)" : "");
    ASSERT_EQ(peer_->aidRequests().size(), 1u);
    EXPECT_EQ(peer_->aidRequests()[0].problem, "");

    // This process comes next: its defaults and aid manager start from the files.
    NSUserDefaults::resetStandardUserDefaults();
    wbsdk_testing::resetAidManager();
    auto manager = WBAidManager::sharedInstance();
    EXPECT_EQ(manager->aidStatus(), WBAidManager::HasAid);
    EXPECT_EQ(manager->aid(), "01AbCdEf");
    EXPECT_EQ(manager->sub(), "sub-1");
    WeiboSDK::registerApp(std::string("123456"));
    auto app = WeiboSDK3rdApp::currentApp();
    manager->fetchAidIfNeededWithApp(app);
    EXPECT_EQ(app->aid(), "01AbCdEf");
    testsupport::drainMainRunLoop();
    EXPECT_EQ(peer_->aidRequests().size(), 1u);
}

}  // namespace

#include "system/SystemOtherApps.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/NSBundle.h"
#include "foundation/NSThread.h"
#include "system/SystemTesting.h"
#include "tests/support/MainLoop.h"

namespace {

Ref<NSURL> url(const std::string& text) {
    return NSURL::URLWithString(text);
}

struct Received {
    std::string url;
    std::string source;
    bool onMain = false;
};

class OtherAppsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        system_testing::resetOtherApps();
        SystemOtherApps::setOwnBundleIdentifier("com.example.cars");
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        system_testing::resetOtherApps();
    }

    // A toy app that answers every request by opening our app's callback URL.
    void installEchoApp() {
        SystemOtherApps::installApp(
            "com.example.chat", {"chatapp"}, [this](const Ref<NSURL>& u, const std::string& s) {
                fakeAppReceived.push_back({u->absoluteString(), s, NSThread::isMainThread()});
                SystemOtherApps::openURLFromApp("com.example.chat", url("cars123://reply?code=ok"));
            });
    }

    std::vector<Received> fakeAppReceived;
};

TEST_F(OtherAppsTest, OnlyClaimedOwnAndSystemSchemesCanBeOpened) {
    EXPECT_FALSE(SystemOtherApps::canOpenURL(url("chatapp://app/x")));
    EXPECT_FALSE(SystemOtherApps::canOpenURL(nullptr));
    EXPECT_FALSE(SystemOtherApps::canOpenURL(url("no-scheme-here")));
    EXPECT_TRUE(SystemOtherApps::canOpenURL(url("https://example.test/")));
    EXPECT_TRUE(SystemOtherApps::canOpenURL(url("tel:10086")));
    EXPECT_FALSE(SystemOtherApps::canOpenURL(url("itms-apps://store/app")));
    installEchoApp();
    EXPECT_TRUE(SystemOtherApps::canOpenURL(url("ChatApp://app/x")));
    SystemOtherApps::setOwnAppURLSchemes({"cars123"});
    EXPECT_TRUE(SystemOtherApps::canOpenURL(url("cars123://x")));
    SystemOtherApps::removeApp("com.example.chat");
    EXPECT_FALSE(SystemOtherApps::canOpenURL(url("chatapp://app/x")));
    EXPECT_FALSE(SystemOtherApps::isAppInstalled("com.example.chat"));
}

TEST_F(OtherAppsTest, OpeningDeliversToTheFakeAppLaterWithOurIdentifier) {
    installEchoApp();
    ASSERT_TRUE(SystemOtherApps::openURL(url("chatapp://app/auth?x=1")));
    EXPECT_TRUE(fakeAppReceived.empty());  // never inline
    testsupport::drainMainRunLoop();
    ASSERT_EQ(fakeAppReceived.size(), 1u);
    EXPECT_EQ(fakeAppReceived[0].url, "chatapp://app/auth?x=1");
    EXPECT_EQ(fakeAppReceived[0].source, "com.example.cars");
    EXPECT_TRUE(fakeAppReceived[0].onMain);
    auto opened = SystemOtherApps::openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].target, "com.example.chat");
    EXPECT_TRUE(opened[0].handled);
}

TEST_F(OtherAppsTest, AFakeAppAnswersThroughOurEntryPoint) {
    installEchoApp();
    std::vector<Received> ours;
    SystemOtherApps::setOwnAppURLSchemes({"cars123"});
    SystemOtherApps::setOwnAppURLHandler([&](const Ref<NSURL>& u, const std::string& s) {
        ours.push_back({u->absoluteString(), s, NSThread::isMainThread()});
        return true;
    });
    SystemOtherApps::openURL(url("chatapp://app/auth"));
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !ours.empty(); }));
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_EQ(ours[0].url, "cars123://reply?code=ok");
    EXPECT_EQ(ours[0].source, "com.example.chat");
    EXPECT_TRUE(ours[0].onMain);
    auto deliveries = SystemOtherApps::deliveriesToOwnApp();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_TRUE(deliveries[0].handled);
}

TEST_F(OtherAppsTest, TheEntryPointsAnswerIsRecorded) {
    SystemOtherApps::setOwnAppURLHandler([](const Ref<NSURL>&, const std::string&) { return false; });
    ASSERT_TRUE(SystemOtherApps::openURLFromApp("com.example.chat", url("wx123://oauth")));
    testsupport::drainMainRunLoop();
    auto deliveries = SystemOtherApps::deliveriesToOwnApp();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_FALSE(deliveries[0].handled);
    SystemOtherApps::clearRecords();
    EXPECT_TRUE(SystemOtherApps::deliveriesToOwnApp().empty());
}

TEST_F(OtherAppsTest, DeclaredSchemesDecideWhatReachesUs) {
    SystemOtherApps::setOwnAppURLSchemes({"wx123", "WB456"});
    int received = 0;
    SystemOtherApps::setOwnAppURLHandler(
        [&](const Ref<NSURL>&, const std::string&) { return ++received, true; });
    EXPECT_TRUE(SystemOtherApps::openURLFromApp("com.example.chat", url("wb456://response")));
    EXPECT_FALSE(SystemOtherApps::openURLFromApp("com.example.chat", url("stranger://x")));
    EXPECT_FALSE(SystemOtherApps::openURLFromApp("com.example.chat", nullptr));
    EXPECT_TRUE(SystemOtherApps::openURLFromApp("com.example.chat", url("https://example.test")));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(received, 1);
}

TEST_F(OtherAppsTest, OurOwnSchemeOpensOurApp) {
    SystemOtherApps::setOwnAppURLSchemes({"cars123"});
    std::string source;
    SystemOtherApps::setOwnAppURLHandler([&](const Ref<NSURL>&, const std::string& s) {
        source = s;
        return true;
    });
    EXPECT_TRUE(SystemOtherApps::openURL(url("cars123://self")));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(source, "com.example.cars");
}

TEST_F(OtherAppsTest, SystemSchemesAreRecordedAndUnknownOnesFail) {
    EXPECT_TRUE(SystemOtherApps::openURL(url("https://example.test/page")));
    EXPECT_FALSE(SystemOtherApps::openURL(url("unknown://x")));
    EXPECT_FALSE(SystemOtherApps::openURL(nullptr));
    auto opened = SystemOtherApps::openedURLs();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].target, "system");
    EXPECT_TRUE(opened[0].handled);
    EXPECT_EQ(opened[1].target, "");
    EXPECT_FALSE(opened[1].handled);
}

TEST_F(OtherAppsTest, TheLaterInstallWinsAContestedScheme) {
    std::vector<std::string> who;
    SystemOtherApps::installApp("first", {"shared"},
                                [&](const Ref<NSURL>&, const std::string&) { who.push_back("first"); });
    SystemOtherApps::installApp("second", {"SHARED"},
                                [&](const Ref<NSURL>&, const std::string&) { who.push_back("second"); });
    EXPECT_EQ(SystemOtherApps::appForScheme("shared"), "second");
    SystemOtherApps::openURL(url("shared://x"));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(who, (std::vector<std::string>{"second"}));
    SystemOtherApps::removeApp("second");
    EXPECT_EQ(SystemOtherApps::appForScheme("shared"), "first");
}

TEST_F(OtherAppsTest, TheHandlerInPlaceAtDeliveryIsTheOneCalled) {
    std::string called;
    SystemOtherApps::setOwnAppURLHandler(
        [&](const Ref<NSURL>&, const std::string&) { return called = "old", true; });
    SystemOtherApps::openURLFromApp("x", url("any://thing"));
    SystemOtherApps::setOwnAppURLHandler(
        [&](const Ref<NSURL>&, const std::string&) { return called = "new", true; });
    testsupport::drainMainRunLoop();
    EXPECT_EQ(called, "new");
    SystemOtherApps::openURLFromApp("x", url("any://thing"));
    SystemOtherApps::setOwnAppURLHandler(nullptr);
    testsupport::drainMainRunLoop();
    auto deliveries = SystemOtherApps::deliveriesToOwnApp();
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_FALSE(deliveries[1].handled);
}

TEST_F(OtherAppsTest, TheMainBundleNamesUsUnlessSet) {
    SystemOtherApps::setOwnBundleIdentifier("");
    EXPECT_EQ(SystemOtherApps::ownBundleIdentifier(),
              NSBundle::mainBundle()->bundleIdentifier().value_or(""));
}

TEST_F(OtherAppsTest, URLsOpenedFromManyThreadsArriveOnTheMainThread) {
    std::atomic<int> received{0};
    std::atomic<bool> allOnMain{true};
    SystemOtherApps::installApp("com.example.chat", {"chatapp"}, [&](const Ref<NSURL>&, const std::string&) {
        if (!NSThread::isMainThread()) allOnMain = false;
        ++received;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) {
                SystemOtherApps::canOpenURL(url("chatapp://x"));
                SystemOtherApps::openURL(url("chatapp://x/" + std::to_string(i)));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return received == 200; }));
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(SystemOtherApps::openedURLs().size(), 200u);
}

}  // namespace

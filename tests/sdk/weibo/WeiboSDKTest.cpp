#include "sdk/weibo/bridge/WeiboSDK.h"

#include <gtest/gtest.h>

#include <thread>

#include "foundation/NSThread.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "tests/sdk/weibo/WeiboTestSupport.h"
#include "uikit/UIApplication.h"

using namespace weibotest;

// ---- registration ----------------------------------------------------------------------------

class WeiboRegistrationTest : public WeiboDeviceTest {};

TEST_F(WeiboRegistrationTest, ANilOrEmptyKeyIsRefusedWithALogLine) {
    EXPECT_FALSE(WeiboSDK::registerApp(std::nullopt));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(WeiboSDK::registerApp(std::string()));
    EXPECT_EQ(log.size(), 2u);
    EXPECT_FALSE(WeiboSDK::registeredAppKey());
}

TEST_F(WeiboRegistrationTest, TheKeyIsStoredAndTheHooksRunInOrder) {
    std::vector<std::string> calls;
    WeiboSDK::addRegistrationHook([&](const std::string& key) { calls.push_back("a:" + key); });
    long second = WeiboSDK::addRegistrationHook([&](const std::string& key) { calls.push_back("b:" + key); });
    EXPECT_TRUE(WeiboSDK::registerApp(std::string(kAppKey)));
    EXPECT_EQ(WeiboSDK::registeredAppKey(), kAppKey);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:3904718265", "b:3904718265"}));
    WeiboSDK::removeRegistrationHook(second);
    WeiboSDK::registerApp(std::string("1111111111"));
    EXPECT_EQ(calls.back(), "a:1111111111");
    EXPECT_EQ(calls.size(), 3u);
    // A refused key runs no hook.
    WeiboSDK::registerApp(std::nullopt);
    EXPECT_EQ(calls.size(), 3u);
}

TEST_F(WeiboRegistrationTest, AHookMayRegisterAnotherHook) {
    int inner = 0;
    WeiboSDK::addRegistrationHook(
        [&](const std::string&) { WeiboSDK::addRegistrationHook([&](const std::string&) { ++inner; }); });
    WeiboSDK::registerApp(std::string(kAppKey));
    EXPECT_EQ(inner, 0);
    WeiboSDK::registerApp(std::string(kAppKey));
    EXPECT_EQ(inner, 1);
}

TEST_F(WeiboRegistrationTest, DebugModeSwitchesTheSDKsOwnLogLines) {
    WeiboSDK::registerApp(std::string(kAppKey));
    EXPECT_TRUE(log.empty());
    WeiboSDK::enableDebugMode(true);
    EXPECT_TRUE(WeiboSDK::isDebugMode());
    WeiboSDK::registerApp(std::string(kAppKey));
    EXPECT_EQ(log.size(), 1u);
    WeiboSDK::enableDebugMode(false);
    WeiboSDK::registerApp(std::string(kAppKey));
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(WeiboRegistrationTest, InstalledFollowsTheDevice) {
    EXPECT_TRUE(WeiboSDK::isWeiboAppInstalled());
    weibo->uninstall();
    EXPECT_FALSE(WeiboSDK::isWeiboAppInstalled());
    EXPECT_EQ(WeiboSDK::getSDKVersion(), detail::weibo::kSDKVersion);
}

// ---- sign-in ---------------------------------------------------------------------------------

class WeiboSignInTest : public RegisteredWeiboTest {};

TEST_F(WeiboSignInTest, TheRequestReachesTheWeiboAppWithItsFields) {
    auto request = authorizeRequest();
    ASSERT_TRUE(WeiboSDK::sendRequest(request));
    ASSERT_TRUE(waitForStandIn(1));
    auto got = weibo->received().at(0);
    EXPECT_EQ(got.url->absoluteString(),
              "weibosdk://request?id=" + request->requestID() + "&sdkversion=" + WeiboSDK::getSDKVersion());
    EXPECT_EQ(got.sourceApplication, kOwnBundle);
    EXPECT_EQ(got.appKey, kAppKey);
    EXPECT_EQ(got.bundleID, kOwnBundle);
    auto auth = asKind<WBAuthorizeRequest>(got.request);
    ASSERT_TRUE(auth) << got.error;
    EXPECT_EQ(auth->requestID(), request->requestID());
    EXPECT_EQ(auth->redirectURI(), kRedirect);
    EXPECT_EQ(auth->scope(), "all");
    EXPECT_EQ(auth->userInfo(), Value(ssoUserInfo()));
}

TEST_F(WeiboSignInTest, TokensAndTheRequestsUserInfoComeBackToTheDelegate) {
    weibo->scriptAuthorize("2.00tokenABC", "1234567890", "2.00refreshXYZ");
    ASSERT_TRUE(WeiboSDK::sendRequest(authorizeRequest()));
    ASSERT_TRUE(waitForEntries(1));
    EXPECT_TRUE(entries[0].handled);
    EXPECT_EQ(entries[0].source, WeiboAppStandIn::kBundleIdentifier);
    ASSERT_EQ(delegate.responses.size(), 1u);
    auto resp = asKind<WBAuthorizeResponse>(delegate.responses[0]);
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->statusCode(), WeiboSDKResponseStatusCodeSuccess);
    EXPECT_EQ(resp->accessToken(), "2.00tokenABC");
    EXPECT_EQ(resp->userID(), "1234567890");
    EXPECT_EQ(resp->refreshToken(), "2.00refreshXYZ");
    ASSERT_TRUE(resp->expirationDate());
    EXPECT_EQ(resp->requestUserInfo(), Value(ssoUserInfo()));
    EXPECT_EQ(resp->userInfo()["answeredBy"].stringValue(), WeiboAppStandIn::kBundleIdentifier);
}

TEST_F(WeiboSignInTest, ACancelledSignInCarriesNoTokens) {
    weibo->scriptStatus(WeiboSDKResponseStatusCodeUserCancel);
    ASSERT_TRUE(WeiboSDK::sendRequest(authorizeRequest()));
    ASSERT_TRUE(waitForEntries(1));
    ASSERT_EQ(delegate.responses.size(), 1u);
    auto resp = asKind<WBAuthorizeResponse>(delegate.responses[0]);
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->statusCode(), -1);
    EXPECT_FALSE(resp->accessToken());
    EXPECT_FALSE(resp->userID());
    EXPECT_FALSE(resp->refreshToken());
    EXPECT_EQ(resp->requestUserInfo(), Value(ssoUserInfo()));
}

TEST_F(WeiboSignInTest, AResponseIsDeliveredOnceAndItsUserInfoHandedBackOnce) {
    auto request = authorizeRequest();
    weibo->scriptAuthorize("t", "u", "r");
    ASSERT_TRUE(WeiboSDK::sendRequest(request));
    ASSERT_TRUE(waitForEntries(1));
    auto url = NSURL::URLWithString(entries[0].url);
    EXPECT_FALSE(WeiboSDK::handleOpenURL(url, &delegate));
    // The Weibo app answering the same id again: the userInfo was already handed back.
    auto again = make<WBAuthorizeResponse>();
    again->setRequestID(request->requestID());
    weibo->sendResponse(kAppKey, again);
    ASSERT_TRUE(waitForEntries(2));
    ASSERT_EQ(delegate.responses.size(), 2u);
    EXPECT_TRUE(delegate.responses[1]->requestUserInfo().isNil());
}

TEST_F(WeiboSignInTest, ARequestWithoutUserInfoGetsNilBack) {
    auto request = authorizeRequest();
    request->setUserInfo(Value());
    weibo->scriptAuthorize("t", "u", "r");
    ASSERT_TRUE(WeiboSDK::sendRequest(request));
    ASSERT_TRUE(waitForEntries(1));
    ASSERT_EQ(delegate.responses.size(), 1u);
    EXPECT_TRUE(delegate.responses[0]->requestUserInfo().isNil());
}

// ---- sharing ---------------------------------------------------------------------------------

class WeiboShareTest : public RegisteredWeiboTest {};

TEST_F(WeiboShareTest, TheShareReachesTheWeiboAppWithImageAuthAndToken) {
    NSData image = bytes(250000);
    auto request = shareRequest(image, std::string("tok"));
    request->setUserInfo(Dictionary{{"ShareMessageFrom", "SendMessageToWeiboViewController"}});
    ASSERT_TRUE(WeiboSDK::sendRequest(request));
    ASSERT_TRUE(waitForStandIn(1));
    auto share = asKind<WBSendMessageToWeiboRequest>(weibo->received().at(0).request);
    ASSERT_TRUE(share);
    ASSERT_TRUE(share->message() && share->message()->imageObject());
    EXPECT_EQ(share->message()->imageObject()->imageData().view(), image.view());
    ASSERT_TRUE(share->authRequest());
    EXPECT_EQ(share->authRequest()->redirectURI(), kRedirect);
    EXPECT_EQ(share->accessToken(), "tok");
    EXPECT_EQ(share->userInfo()["ShareMessageFrom"].stringValue(), "SendMessageToWeiboViewController");
}

TEST_F(WeiboShareTest, ShareAnswersReachTheDelegate) {
    for (long code : {0L, -1L, -8L, -99L, 42L}) {
        delegate.responses.clear();
        entries.clear();
        weibo->scriptStatus(code);
        ASSERT_TRUE(WeiboSDK::sendRequest(shareRequest(bytes(10))));
        ASSERT_TRUE(waitForEntries(1));
        ASSERT_EQ(delegate.responses.size(), 1u);
        auto resp = asKind<WBSendMessageToWeiboResponse>(delegate.responses[0]);
        ASSERT_TRUE(resp);
        EXPECT_EQ(resp->statusCode(), code);
        EXPECT_FALSE(resp->authResponse());
    }
}

TEST_F(WeiboShareTest, ASignInOnTheWayComesBackAsTheAuthResponse) {
    weibo->scriptAuthorize("fresh", "42", "again");
    ASSERT_TRUE(WeiboSDK::sendRequest(shareRequest(bytes(10))));
    ASSERT_TRUE(waitForEntries(1));
    auto resp = asKind<WBSendMessageToWeiboResponse>(delegate.responses.at(0));
    ASSERT_TRUE(resp && resp->authResponse());
    EXPECT_EQ(resp->authResponse()->accessToken(), "fresh");
}

TEST_F(WeiboShareTest, TheImageLimitIsTenMebibytes) {
    EXPECT_TRUE(WeiboSDK::sendRequest(shareRequest(bytes(10485760))));
    EXPECT_FALSE(WeiboSDK::sendRequest(shareRequest(bytes(10485761))));
    EXPECT_FALSE(WeiboSDK::sendRequest(shareRequest(NSData())));
    ASSERT_TRUE(waitForStandIn(1));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(weibo->receivedCount(), 1u);
}

// ---- refusals --------------------------------------------------------------------------------

class WeiboRefusalTest : public RegisteredWeiboTest {
  protected:
    void expectRefused(const Ref<WBBaseRequest>& request) {
        EXPECT_FALSE(WeiboSDK::sendRequest(request));
        testsupport::drainMainRunLoop();
        EXPECT_EQ(weibo->receivedCount(), 0u);
        EXPECT_TRUE(SystemOtherApps::openedURLs().empty());
    }
};

TEST_F(WeiboRefusalTest, RedirectURIAndScopeLengthsAreChecked) {
    auto request = authorizeRequest();
    request->setRedirectURI(std::nullopt);
    expectRefused(request);
    request->setRedirectURI(std::string());
    expectRefused(request);
    request->setRedirectURI(std::string(1025, 'a'));
    expectRefused(request);
    request->setRedirectURI(std::string(1024, 'a'));
    request->setScope(std::string(1025, 's'));
    expectRefused(request);
    // Characters, not bytes: 1024 two-byte characters pass.
    std::string wide;
    for (int i = 0; i < 1024; ++i) wide += "é";
    request->setScope(wide);
    EXPECT_TRUE(request->isValid());
    request->setRedirectURI(std::string("x"));
    request->setScope(std::nullopt);
    EXPECT_TRUE(request->isValid());
}

TEST_F(WeiboRefusalTest, IncompleteSharesAreRefused) {
    expectRefused(nullptr);
    expectRefused(WBSendMessageToWeiboRequest::requestWithMessage(nullptr, nullptr, std::nullopt));
    expectRefused(
        WBSendMessageToWeiboRequest::requestWithMessage(WBMessageObject::message(), nullptr, std::nullopt));
    auto badAuth = shareRequest(bytes(5));
    badAuth->authRequest()->setRedirectURI(std::nullopt);
    expectRefused(badAuth);
    auto badInfo = shareRequest(bytes(5));
    badInfo->setUserInfo(Value("not a dictionary"));
    expectRefused(badInfo);
    // A text alone is a share.
    auto text = WBMessageObject::message();
    text->setText(std::string("hello"));
    EXPECT_TRUE(WBSendMessageToWeiboRequest::requestWithMessage(text, nullptr, std::nullopt)->isValid());
}

TEST_F(WeiboRefusalTest, KindsTheWeiboAppDoesNotTakeAreRefused) {
    expectRefused(WBBaseRequest::request());
    expectRefused(WBProvideMessageForWeiboRequest::request());
}

TEST_F(WeiboRefusalTest, NothingIsSentBeforeRegistration) {
    weibo_testing::resetSDK();
    expectRefused(authorizeRequest());
}

// ---- the Weibo app missing -------------------------------------------------------------------

namespace {
class RoutingAppDelegate : public UIApplicationDelegate {
  public:
    std::optional<bool> applicationOpenURL(UIApplication&, const Ref<NSURL>& url,
                                           const std::optional<std::string>& source, const Value&) override {
        onMainThread = NSThread::isMainThread();
        sources.push_back(source.value_or(""));
        return WeiboSDK::handleOpenURL(url, &sdkDelegate);
    }
    RecordingDelegate sdkDelegate;
    std::vector<std::string> sources;
    bool onMainThread = false;
};
}  // namespace

class WeiboNotInstalledTest : public RegisteredWeiboTest {
  protected:
    void SetUp() override {
        RegisteredWeiboTest::SetUp();
        weibo->uninstall();
        application = make<UIApplication>();
        appDelegate = std::make_shared<RoutingAppDelegate>();
        application->setDelegate(appDelegate);
        UIApplication::setSharedApplication(application);
    }
    void TearDown() override {
        RegisteredWeiboTest::TearDown();
        UIApplication::setSharedApplication(nullptr);
    }
    Ref<UIApplication> application;
    std::shared_ptr<RoutingAppDelegate> appDelegate;
};

TEST_F(WeiboNotInstalledTest, TheSDKAnswersThroughTheApplicationDelegateOnTheMainQueue) {
    auto request = shareRequest(bytes(10));
    request->setUserInfo(Dictionary{{"k", "v"}});
    ASSERT_TRUE(WeiboSDK::sendRequest(request));
    // Never inline.
    EXPECT_TRUE(appDelegate->sdkDelegate.responses.empty());
    ASSERT_TRUE(
        testsupport::pumpMainRunLoopUntil([&] { return !appDelegate->sdkDelegate.responses.empty(); }));
    EXPECT_TRUE(appDelegate->onMainThread);
    EXPECT_EQ(appDelegate->sources.at(0), kOwnBundle);
    auto resp = asKind<WBSendMessageToWeiboResponse>(appDelegate->sdkDelegate.responses[0]);
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->statusCode(), WeiboSDKResponseStatusCodeUnsupport);
    EXPECT_EQ(resp->requestID(), request->requestID());
    EXPECT_EQ(resp->requestUserInfo()["k"].stringValue(), "v");
    EXPECT_EQ(weibo->receivedCount(), 0u);
}

TEST_F(WeiboNotInstalledTest, ASignInGetsAnAuthorizeResponseWithoutTokens) {
    ASSERT_TRUE(WeiboSDK::sendRequest(authorizeRequest()));
    ASSERT_TRUE(
        testsupport::pumpMainRunLoopUntil([&] { return !appDelegate->sdkDelegate.responses.empty(); }));
    auto resp = asKind<WBAuthorizeResponse>(appDelegate->sdkDelegate.responses[0]);
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->statusCode(), -99);
    EXPECT_FALSE(resp->accessToken());
    EXPECT_EQ(resp->requestUserInfo(), Value(ssoUserInfo()));
}

TEST_F(WeiboNotInstalledTest, WithoutAnApplicationDelegateNothingHappens) {
    application->setDelegate(nullptr);
    ASSERT_TRUE(WeiboSDK::sendRequest(authorizeRequest()));
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(appDelegate->sdkDelegate.responses.empty());
}

// ---- requests from the Weibo app -------------------------------------------------------------

TEST_F(WeiboSignInTest, TheWeiboAppsOwnRequestReachesDidReceiveWeiboRequest) {
    auto request = WBProvideMessageForWeiboRequest::request();
    request->setUserInfo(Dictionary{{"from", "weibo"}});
    weibo->sendRequest(kAppKey, request);
    ASSERT_TRUE(waitForEntries(1));
    EXPECT_TRUE(entries[0].handled);
    ASSERT_EQ(delegate.requests.size(), 1u);
    auto got = asKind<WBProvideMessageForWeiboRequest>(delegate.requests[0]);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->requestID(), request->requestID());
    EXPECT_EQ(got->userInfo()["from"].stringValue(), "weibo");
    EXPECT_TRUE(delegate.responses.empty());
}

// ---- concurrency -----------------------------------------------------------------------------

TEST_F(WeiboSignInTest, UserInfoKeptFromManyThreadsComesBackToTheRightResponses) {
    weibo->uninstall();  // the answers are driven below, one by one
    SystemOtherApps::installApp("device.sink", {"weibosdk"}, [](const Ref<NSURL>&, const std::string&) {});
    std::vector<std::vector<Ref<WBAuthorizeRequest>>> sent(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &sent] {
            for (int i = 0; i < 10; ++i) {
                auto request = authorizeRequest();
                request->setUserInfo(Dictionary{{"thread", t}, {"index", i}});
                if (WeiboSDK::sendRequest(request)) sent[t].push_back(request);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    SystemOtherApps::removeApp("device.sink");
    weibo = WeiboAppStandIn::install();
    std::size_t expected = 0;
    for (int t = 0; t < 4; ++t) {
        ASSERT_EQ(sent[t].size(), 10u);
        for (int i = 0; i < 10; ++i) {
            auto response = make<WBAuthorizeResponse>();
            response->setRequestID(sent[t][i]->requestID());
            weibo->sendResponse(kAppKey, response);
            ASSERT_TRUE(waitForEntries(++expected));
            auto got = delegate.responses.back();
            EXPECT_EQ(got->requestUserInfo()["thread"].intValue(), t);
            EXPECT_EQ(got->requestUserInfo()["index"].intValue(), i);
        }
    }
}

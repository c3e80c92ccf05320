#include "sdk/wechat/WXApi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "sdk/wechat/WeChatTesting.h"
#include "tests/sdk/wechat/WeChatTestSupport.h"

using namespace wechattest;

namespace {

Ref<UIImage> solidImage(int width, int height) {
    UIGraphicsBeginImageContextWithOptions({double(width), double(height)}, true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0.8, 0.1, 0.1, 1);
    UIRectFill({0, 0, double(width), double(height)});
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

Ref<SendAuthReq> authRequest(const std::string& state = "123") {
    auto request = make<SendAuthReq>();
    request->setScope("snsapi_userinfo");
    request->setState(state);
    return request;
}

Ref<SendMessageToWXReq> imageShare(std::int32_t scene, const NSData& image, const Ref<UIImage>& thumb) {
    auto message = WXMediaMessage::message();
    message->setThumbImage(thumb);
    auto object = WXImageObject::object();
    object->setImageData(image);
    message->setMediaObject(object);
    auto request = make<SendMessageToWXReq>();
    request->setBText(false);
    request->setMessage(message);
    request->setScene(scene);
    return request;
}

NSData bytes(std::size_t n, std::uint8_t seed = 7) {
    NSData d = NSData::dataWithLength(n);
    for (std::size_t i = 0; i < n; ++i) d.mutableBytes()[i] = static_cast<std::uint8_t>(seed + i * 31);
    return d;
}

}  // namespace

// ---- registration ----------------------------------------------------------------------------

class WXApiRegistrationTest : public WeChatDeviceTest {};

TEST_F(WXApiRegistrationTest, StoresTheAppIDAndAnnouncesItOnTheRegistrationPasteboard) {
    EXPECT_EQ(WXApi::registeredAppID(), "");
    EXPECT_TRUE(WXApi::registerApp(kAppID));
    EXPECT_EQ(WXApi::registeredAppID(), kAppID);
    EXPECT_EQ(wechat->registeredAppIDs(), std::vector<std::string>{kAppID});
}

TEST_F(WXApiRegistrationTest, KeepsOtherAppsOnTheRegistrationPasteboard) {
    EXPECT_TRUE(WXApi::registerApp("wx0000000000000001"));
    EXPECT_TRUE(WXApi::registerApp(kAppID));
    auto ids = wechat->registeredAppIDs();
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_EQ(WXApi::registeredAppID(), kAppID);
}

TEST_F(WXApiRegistrationTest, AnEmptyAppIDIsRefusedAndKeepsTheEarlierOne) {
    EXPECT_TRUE(WXApi::registerApp(kAppID));
    EXPECT_FALSE(WXApi::registerApp(""));
    EXPECT_EQ(WXApi::registeredAppID(), kAppID);
    EXPECT_FALSE(log.empty());
}

TEST_F(WXApiRegistrationTest, InstalledFollowsTheDevice) {
    WXApi::registerApp(kAppID);
    EXPECT_TRUE(WXApi::isWXAppInstalled());
    EXPECT_TRUE(WXApi::isWXAppSupportApi());
    wechat->uninstall();
    EXPECT_FALSE(WXApi::isWXAppInstalled());
    EXPECT_FALSE(WXApi::isWXAppSupportApi());
    EXPECT_FALSE(WXApi::getApiVersion().empty());
}

TEST_F(WXApiRegistrationTest, ConcurrentRegistrationsLeaveOneOfTheIDs) {
    std::vector<std::thread> threads;
    std::atomic<int> installedAnswers{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &installedAnswers] {
            std::string id = "wx000000000000000" + std::to_string(t);
            for (int i = 0; i < 25; ++i) {
                WXApi::registerApp(id);
                if (WXApi::isWXAppInstalled()) ++installedAnswers;
                (void)WXApi::registeredAppID();
            }
        });
    }
    for (auto& t : threads) t.join();
    std::string id = WXApi::registeredAppID();
    EXPECT_EQ(id.substr(0, 17), "wx000000000000000");
    EXPECT_EQ(installedAnswers.load(), 100);
}

// ---- sign-in ---------------------------------------------------------------------------------

class WXApiSignInTest : public WeChatDeviceTest {
  protected:
    void SetUp() override {
        WeChatDeviceTest::SetUp();
        WXApi::registerApp(kAppID);
    }
};

TEST_F(WXApiSignInTest, TheRequestReachesWeChatWithScopeAndState) {
    ASSERT_TRUE(WXApi::sendReq(authRequest("st&ate=1")));
    ASSERT_TRUE(waitForStandIn(1));
    auto got = wechat->received().at(0);
    EXPECT_EQ(got.url->absoluteString(), std::string("weixin://app/") + kAppID + "/sendreq/?");
    EXPECT_EQ(got.sourceApplication, kOwnBundle);
    EXPECT_EQ(got.appID, kAppID);
    auto auth = asKind<SendAuthReq>(got.request);
    ASSERT_TRUE(auth) << got.error;
    EXPECT_EQ(auth->scope(), "snsapi_userinfo");
    EXPECT_EQ(auth->state(), "st&ate=1");
}

TEST_F(WXApiSignInTest, AnAuthorizationCodeReachesTheDelegate) {
    wechat->scriptAuthCode("0a1B&c=d");
    ASSERT_TRUE(WXApi::sendReq(authRequest()));
    ASSERT_TRUE(waitForEntries(1));
    EXPECT_TRUE(entries[0].handled);
    EXPECT_EQ(entries[0].source, WeChatAppStandIn::kBundleIdentifier);
    ASSERT_EQ(delegate.responses.size(), 1u);
    auto resp = asKind<SendAuthResp>(delegate.responses[0]);
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->errCode(), WXSuccess);
    EXPECT_EQ(resp->code(), "0a1B&c=d");
    EXPECT_EQ(resp->state(), "123");
    EXPECT_TRUE(delegate.requests.empty());
}

TEST_F(WXApiSignInTest, ADeniedSignInGivesMinusFourAndNoCode) {
    wechat->scriptAuthDenied();
    ASSERT_TRUE(WXApi::sendReq(authRequest()));
    ASSERT_TRUE(waitForEntries(1));
    ASSERT_EQ(delegate.responses.size(), 1u);
    auto resp = asKind<SendAuthResp>(delegate.responses[0]);
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->errCode(), -4);
    EXPECT_FALSE(resp->code());
}

TEST_F(WXApiSignInTest, TheSameCodeTwiceIsDeliveredTwice) {
    wechat->scriptAuthCode("same");
    wechat->scriptAuthCode("same");
    ASSERT_TRUE(WXApi::sendReq(authRequest()));
    ASSERT_TRUE(waitForEntries(1));
    ASSERT_TRUE(WXApi::sendReq(authRequest()));
    ASSERT_TRUE(waitForEntries(2));
    ASSERT_EQ(delegate.responses.size(), 2u);
    EXPECT_EQ(asKind<SendAuthResp>(delegate.responses[1])->code(), "same");
}

TEST_F(WXApiSignInTest, AnExplicitErrorCodeInTheCallbackIsKept) {
    EXPECT_TRUE(WXApi::handleOpenURL(
        NSURL::URLWithString(std::string(kAppID) + "://oauth?errCode=-2&state=x"), &delegate));
    ASSERT_EQ(delegate.responses.size(), 1u);
    EXPECT_EQ(delegate.responses[0]->errCode(), -2);
    // An unreadable error code, or a "success" without a code, is a denial.
    WXApi::handleOpenURL(NSURL::URLWithString(std::string(kAppID) + "://oauth?errCode=99999999999"),
                         &delegate);
    WXApi::handleOpenURL(NSURL::URLWithString(std::string(kAppID) + "://oauth?errCode=0"), &delegate);
    WXApi::handleOpenURL(NSURL::URLWithString(std::string(kAppID) + "://oauth?code="), &delegate);
    ASSERT_EQ(delegate.responses.size(), 4u);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(delegate.responses[i]->errCode(), WXErrCodeAuthDeny) << i;
}

TEST_F(WXApiSignInTest, TheAppIDSchemeMatchesWithoutRegardToCase) {
    std::string upper = "WX5E07C9A3D14B82F6://oauth?code=abc";
    EXPECT_TRUE(WXApi::handleOpenURL(NSURL::URLWithString(upper), &delegate));
    ASSERT_EQ(delegate.responses.size(), 1u);
}

// ---- sharing ---------------------------------------------------------------------------------

class WXApiShareTest : public WXApiSignInTest {};

TEST_F(WXApiShareTest, AnImageShareReachesWeChatWithImageThumbnailAndScene) {
    NSData image = bytes(300000);
    auto thumb = solidImage(200, 150);
    ASSERT_TRUE(WXApi::sendReq(imageShare(WXSceneTimeline, image, thumb)));
    ASSERT_TRUE(waitForStandIn(1));
    auto got = wechat->received().at(0);
    auto share = asKind<SendMessageToWXReq>(got.request);
    ASSERT_TRUE(share) << got.error;
    EXPECT_FALSE(share->bText());
    EXPECT_EQ(share->scene(), 1);
    ASSERT_TRUE(share->message());
    auto object = asKind<WXImageObject>(share->message()->mediaObject());
    ASSERT_TRUE(object);
    EXPECT_EQ(object->imageData().view(), image.view());
    ASSERT_TRUE(share->message()->thumbData());
    EXPECT_EQ(share->message()->thumbData()->view(), UIImageJPEGRepresentation(thumb, 0.6)->view());
}

TEST_F(WXApiShareTest, ATextShareCarriesItsText) {
    auto request = make<SendMessageToWXReq>();
    request->setBText(true);
    request->setText("改装 & more");
    ASSERT_TRUE(WXApi::sendReq(request));
    ASSERT_TRUE(waitForStandIn(1));
    auto share = asKind<SendMessageToWXReq>(wechat->received().at(0).request);
    ASSERT_TRUE(share);
    EXPECT_TRUE(share->bText());
    EXPECT_EQ(share->text(), "改装 & more");
    EXPECT_EQ(share->scene(), WXSceneSession);
}

TEST_F(WXApiShareTest, ShareAnswersReachTheDelegate) {
    for (std::int32_t code : {0, -2, -3, -5, 12345}) {
        delegate.responses.clear();
        entries.clear();
        wechat->scriptShareResult(code);
        ASSERT_TRUE(WXApi::sendReq(imageShare(WXSceneSession, bytes(100), nullptr)));
        ASSERT_TRUE(waitForEntries(1));
        EXPECT_TRUE(entries[0].handled);
        ASSERT_EQ(delegate.responses.size(), 1u);
        auto resp = asKind<SendMessageToWXResp>(delegate.responses[0]);
        ASSERT_TRUE(resp);
        EXPECT_EQ(resp->errCode(), code);
        EXPECT_EQ(resp->lang(), "zh_CN");
    }
}

TEST_F(WXApiShareTest, ATransferIsReadOnlyOnce) {
    wechat->answerShare(kAppID, 0);
    ASSERT_TRUE(waitForEntries(1));
    EXPECT_TRUE(entries[0].handled);
    auto again = NSURL::URLWithString(entries[0].url);
    EXPECT_FALSE(WXApi::handleOpenURL(again, &delegate));
    EXPECT_EQ(delegate.responses.size(), 1u);
}

TEST_F(WXApiShareTest, WithoutAnswerNothingComesBack) {
    wechat->scriptNoAnswer();
    ASSERT_TRUE(WXApi::sendReq(imageShare(WXSceneSession, bytes(10), nullptr)));
    ASSERT_TRUE(waitForStandIn(1));
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(delegate.calls(), 0u);
}

// ---- refusals --------------------------------------------------------------------------------

class WXApiRefusalTest : public WXApiSignInTest {
  protected:
    void expectRefused(const Ref<BaseReq>& request) {
        log.clear();
        EXPECT_FALSE(WXApi::sendReq(request));
        testsupport::drainMainRunLoop();
        EXPECT_EQ(wechat->receivedCount(), 0u);
        EXPECT_TRUE(SystemOtherApps::openedURLs().empty());
    }
};

TEST_F(WXApiRefusalTest, IncompleteRequestsAreRefused) {
    expectRefused(nullptr);
    auto noScope = make<SendAuthReq>();
    expectRefused(noScope);
    EXPECT_FALSE(log.empty());
    auto noMessage = make<SendMessageToWXReq>();
    expectRefused(noMessage);
    auto emptyText = make<SendMessageToWXReq>();
    emptyText->setBText(true);
    expectRefused(emptyText);
    expectRefused(imageShare(0, NSData(), nullptr));
    expectRefused(imageShare(0, bytes(10485761), nullptr));
    auto foreignObject = imageShare(0, bytes(1), nullptr);
    foreignObject->message()->setMediaObject(make<NSObject>());
    expectRefused(foreignObject);
    auto bigThumb = imageShare(0, bytes(1), nullptr);
    bigThumb->message()->setThumbData(bytes(1048577));
    expectRefused(bigThumb);
}

TEST_F(WXApiRefusalTest, WeChatsOwnRequestKindsAreNotSent) {
    expectRefused(make<GetMessageFromWXReq>());
    expectRefused(make<ShowMessageFromWXReq>());
    expectRefused(make<LaunchFromWXReq>());
    expectRefused(make<BaseReq>());
}

TEST_F(WXApiRefusalTest, NothingIsSentBeforeRegistration) {
    wechat_testing::resetSDK();
    expectRefused(authRequest());
}

TEST_F(WXApiRefusalTest, NothingIsSentWhenWeChatIsNotInstalled) {
    wechat->uninstall();
    expectRefused(authRequest());
    expectRefused(imageShare(1, bytes(10), nullptr));
}

TEST_F(WXApiRefusalTest, TheBiggestImageStillGoes) {
    ASSERT_TRUE(WXApi::sendReq(imageShare(0, bytes(10485760), nullptr)));
    ASSERT_TRUE(waitForStandIn(1));
    auto share = asKind<SendMessageToWXReq>(wechat->received().at(0).request);
    ASSERT_TRUE(share);
    EXPECT_EQ(asKind<WXImageObject>(share->message()->mediaObject())->imageData().length(), 10485760u);
}

// ---- requests from WeChat --------------------------------------------------------------------

class WXApiFromWeChatTest : public WXApiSignInTest {};

TEST_F(WXApiFromWeChatTest, WeChatsThreeRequestsReachOnReq) {
    auto message = WXMediaMessage::message();
    message->setTitle("Tuned");
    message->setDescription("A car");
    message->setMessageExt("car=42");
    auto image = WXImageObject::object();
    image->setImageData(bytes(64));
    message->setMediaObject(image);

    wechat->sendGetMessageRequest(kAppID, "en_US");
    ASSERT_TRUE(waitForEntries(1));
    wechat->sendShowMessageRequest(kAppID, message);
    ASSERT_TRUE(waitForEntries(2));
    wechat->sendLaunchRequest(kAppID, message);
    ASSERT_TRUE(waitForEntries(3));

    ASSERT_EQ(delegate.requests.size(), 3u);
    EXPECT_TRUE(delegate.responses.empty());
    auto get = asKind<GetMessageFromWXReq>(delegate.requests[0]);
    ASSERT_TRUE(get);
    EXPECT_EQ(get->lang(), "en_US");
    auto show = asKind<ShowMessageFromWXReq>(delegate.requests[1]);
    ASSERT_TRUE(show && show->message());
    EXPECT_EQ(show->message()->title(), "Tuned");
    EXPECT_EQ(show->message()->descriptionText(), "A car");
    EXPECT_EQ(show->message()->messageExt(), "car=42");
    EXPECT_EQ(asKind<WXImageObject>(show->message()->mediaObject())->imageData().view(), bytes(64).view());
    auto launch = asKind<LaunchFromWXReq>(delegate.requests[2]);
    ASSERT_TRUE(launch && launch->message());
    EXPECT_EQ(launch->message()->messageExt(), "car=42");
}

TEST_F(WXApiFromWeChatTest, ANullDelegateStillConsumesTheURL) {
    wechat->writeRawTransfer(kAppID,
                             *detail::wechat::encodeTransfer(Dictionary{{detail::wechat::kKeyKind, 3}},
                                                             kAppID, detail::wechat::kOriginWeChat));
    auto url = NSURL::URLWithString(std::string(kAppID) + "://platformId=wechat");
    EXPECT_TRUE(WXApi::handleOpenURL(url, nullptr));
    EXPECT_FALSE(WXApi::handleOpenURL(url, nullptr));
}

// ---- URLs for someone else -------------------------------------------------------------------

class WXApiAddressTest : public WXApiSignInTest {};

TEST_F(WXApiAddressTest, URLsForAnotherAppIDAreRefused) {
    for (const char* text :
         {"wx0000000000000001://oauth?code=abc", "wx0000000000000001://platformId=wechat",
          "wb3904718265://response?id=1", "http://oauth?code=1", "weixin://oauth?code=1"}) {
        EXPECT_FALSE(WXApi::handleOpenURL(NSURL::URLWithString(text), &delegate)) << text;
    }
    EXPECT_EQ(delegate.calls(), 0u);
}

TEST_F(WXApiAddressTest, ATransferNamingAnotherAppIDIsRefused) {
    using namespace detail::wechat;
    Dictionary fields{{kKeyKind, int(kKindSendMessageResp)}, {kKeyErrCode, 0}};
    // Under our type but written for another app.
    wechat->writeRawTransfer(kAppID, *encodeTransfer(fields, "wx0000000000000001", kOriginWeChat));
    auto url = NSURL::URLWithString(std::string(kAppID) + "://platformId=wechat");
    EXPECT_FALSE(WXApi::handleOpenURL(url, &delegate));
    // Our own request echoed back is not an answer.
    wechat->writeRawTransfer(kAppID, *encodeTransfer(fields, kAppID, kOriginApp));
    EXPECT_FALSE(WXApi::handleOpenURL(url, &delegate));
    // Another app's answer sent to it: the URL is not ours.
    wechat->answerShare("wx0000000000000001", 0);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(delegate.calls(), 0u);
}

TEST_F(WXApiAddressTest, NothingIsHandledBeforeRegistration) {
    wechat_testing::resetSDK();
    EXPECT_FALSE(
        WXApi::handleOpenURL(NSURL::URLWithString(std::string(kAppID) + "://oauth?code=1"), &delegate));
    EXPECT_FALSE(WXApi::handleOpenURL(nullptr, &delegate));
}

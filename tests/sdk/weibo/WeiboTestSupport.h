#pragma once
// A device with the Weibo stand-in installed and our app registered, for the Weibo SDK tests.
// The app's URL entry hands every URL to WeiboSDK::handleOpenURL with a recording delegate.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/weibo/bridge/WBTransfer.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "sdk/weibo/bridge/testing/WeiboAppStandIn.h"
#include "system/SystemOtherApps.h"
#include "system/UIPasteboard.h"
#include "tests/sdk/SDKTestSupport.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace weibotest {

inline constexpr char kAppKey[] = "3904718265";
using sdktest::kOwnBundle;
inline constexpr char kRedirect[] = "https://api.example.com/oauth2/default.html";

class RecordingDelegate : public WeiboSDKDelegate {
  public:
    void didReceiveWeiboRequest(const Ref<WBBaseRequest>& request) override { requests.push_back(request); }
    void didReceiveWeiboResponse(const Ref<WBBaseResponse>& response) override {
        responses.push_back(response);
    }
    std::size_t calls() const { return requests.size() + responses.size(); }

    std::vector<Ref<WBBaseRequest>> requests;
    std::vector<Ref<WBBaseResponse>> responses;
};

inline Dictionary ssoUserInfo() {
    return Dictionary{{"SSO_From", "SendMessageToWeiboViewController"},
                      {"Other_Info_1", 123},
                      {"Other_Info_2", Array{Value("obj1"), Value("obj2")}},
                      {"Other_Info_3", Dictionary{{"key1", "obj1"}, {"key2", "obj2"}}}};
}

inline Ref<WBAuthorizeRequest> authorizeRequest() {
    auto request = WBAuthorizeRequest::request();
    request->setRedirectURI(std::string(kRedirect));
    request->setScope(std::string("all"));
    request->setUserInfo(ssoUserInfo());
    return request;
}

inline NSData bytes(std::size_t n, std::uint8_t seed = 3) {
    NSData d = NSData::dataWithLength(n);
    for (std::size_t i = 0; i < n; ++i) d.mutableBytes()[i] = static_cast<std::uint8_t>(seed + i * 13);
    return d;
}

inline Ref<WBSendMessageToWeiboRequest> shareRequest(const NSData& image,
                                                     const std::optional<std::string>& token = std::nullopt) {
    auto message = WBMessageObject::message();
    auto object = WBImageObject::object();
    object->setImageData(image);
    message->setImageObject(object);
    return WBSendMessageToWeiboRequest::requestWithMessage(message, authorizeRequest(), token);
}

class WeiboDeviceTest : public sdktest::OtherAppDeviceTest<WeiboAppStandIn> {
  protected:
    bool handleOpenURL(const Ref<NSURL>& url) override { return WeiboSDK::handleOpenURL(url, &delegate); }
    void resetSDK() override { weibo_testing::resetSDK(); }

    Ref<WeiboAppStandIn>& weibo = standIn_;
    RecordingDelegate delegate;
};

class RegisteredWeiboTest : public WeiboDeviceTest {
  protected:
    void SetUp() override {
        WeiboDeviceTest::SetUp();
        WeiboSDK::registerApp(std::string(kAppKey));
    }
};

}  // namespace weibotest

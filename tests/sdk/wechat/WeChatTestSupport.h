#pragma once
// A device with the WeChat stand-in installed and our app registered, for the WeChat SDK tests.
// The app's URL entry hands every URL to WXApi::handleOpenURL with a recording delegate.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/wechat/WXApi.h"
#include "sdk/wechat/WXTransfer.h"
#include "sdk/wechat/WeChatTesting.h"
#include "sdk/wechat/testing/WeChatAppStandIn.h"
#include "system/SystemOtherApps.h"
#include "system/UIPasteboard.h"
#include "tests/sdk/SDKTestSupport.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace wechattest {

inline constexpr char kAppID[] = "wx5e07c9a3d14b82f6";
using sdktest::kOwnBundle;

class RecordingDelegate : public WXApiDelegate {
  public:
    void onReq(const Ref<BaseReq>& request) override { requests.push_back(request); }
    void onResp(const Ref<BaseResp>& response) override { responses.push_back(response); }
    std::size_t calls() const { return requests.size() + responses.size(); }

    std::vector<Ref<BaseReq>> requests;
    std::vector<Ref<BaseResp>> responses;
};

class WeChatDeviceTest : public sdktest::OtherAppDeviceTest<WeChatAppStandIn> {
  protected:
    bool handleOpenURL(const Ref<NSURL>& url) override { return WXApi::handleOpenURL(url, &delegate); }
    void resetSDK() override { wechat_testing::resetSDK(); }

    Ref<WeChatAppStandIn>& wechat = standIn_;
    RecordingDelegate delegate;
};

}  // namespace wechattest

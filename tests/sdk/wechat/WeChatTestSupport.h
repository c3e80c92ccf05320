#pragma once
// A device with the WeChat stand-in installed and our app registered, for the WeChat SDK tests.
// The app's URL entry hands every URL to WXApi::handleOpenURL with a recording delegate.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSLog.h"
#include "sdk/wechat/WXApi.h"
#include "sdk/wechat/WXTransfer.h"
#include "sdk/wechat/testing/WeChatAppStandIn.h"
#include "system/SystemOtherApps.h"
#include "system/UIPasteboard.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace wechattest {

inline constexpr char kAppID[] = "wx5e07c9a3d14b82f6";
inline constexpr char kOwnBundle[] = "com.example.cars";

class RecordingDelegate : public WXApiDelegate {
  public:
    void onReq(const Ref<BaseReq>& request) override { requests.push_back(request); }
    void onResp(const Ref<BaseResp>& response) override { responses.push_back(response); }
    std::size_t calls() const { return requests.size() + responses.size(); }

    std::vector<Ref<BaseReq>> requests;
    std::vector<Ref<BaseResp>> responses;
};

class WeChatDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousSink_ = NSLogSetSink([this](const std::string& line) { log.push_back(line); });
        UIPasteboard::resetForTesting();
        UIPasteboard::setSharedDirectory(device_.path());
        SystemOtherApps::resetForTesting();
        SystemOtherApps::setOwnBundleIdentifier(kOwnBundle);
        SystemOtherApps::setOwnAppURLHandler([this](const Ref<NSURL>& url, const std::string& source) {
            bool handled = WXApi::handleOpenURL(url, &delegate);
            entries.push_back({url->absoluteString(), source, handled});
            return handled;
        });
        WXApi::resetForTesting();
        wechat = WeChatAppStandIn::install();
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        WXApi::resetForTesting();
        SystemOtherApps::resetForTesting();
        UIPasteboard::resetForTesting();
        UIPasteboard::setSharedDirectory("");
        NSLogSetSink(previousSink_);
    }

    // Waits until our app's URL entry has been called `count` times in all.
    bool waitForEntries(std::size_t count) {
        return testsupport::pumpMainRunLoopUntil([&] { return entries.size() >= count; });
    }
    bool waitForStandIn(std::size_t count) {
        return testsupport::pumpMainRunLoopUntil([&] { return wechat->receivedCount() >= count; });
    }

    struct Entry {
        std::string url;
        std::string source;
        bool handled = false;
    };

    testsupport::TemporaryDirectory device_;
    NSLogSink previousSink_;
    Ref<WeChatAppStandIn> wechat;
    RecordingDelegate delegate;
    std::vector<Entry> entries;
    std::vector<std::string> log;
};

}  // namespace wechattest

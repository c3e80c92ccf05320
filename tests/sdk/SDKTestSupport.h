#pragma once
// A device for the tests of an SDK that talks to another app: log lines are caught, the shared
// pasteboards live in a private directory, our app is registered under kOwnBundle with a URL
// entry that hands every URL to the SDK (and records the call), and the other app's stand-in is
// installed. Everything is put back at tear-down, so tests run side by side.
//
// A test fixture derives from OtherAppDeviceTest<StandIn> and says how the SDK takes a URL and
// how it is reset.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSLog.h"
#include "system/SystemOtherApps.h"
#include "system/SystemTesting.h"
#include "system/UIPasteboard.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace sdktest {

inline constexpr char kOwnBundle[] = "com.example.cars";

template <class StandIn>
class OtherAppDeviceTest : public ::testing::Test {
  protected:
    // The SDK's answer to a URL opened in our app.
    virtual bool handleOpenURL(const Ref<NSURL>& url) = 0;
    // Forgets the SDK's registration and state.
    virtual void resetSDK() = 0;

    void SetUp() override {
        previousSink_ = NSLogSetSink([this](const std::string& line) { log.push_back(line); });
        system_testing::resetPasteboards();
        UIPasteboard::setSharedDirectory(device_.path());
        system_testing::resetOtherApps();
        SystemOtherApps::setOwnBundleIdentifier(kOwnBundle);
        SystemOtherApps::setOwnAppURLHandler([this](const Ref<NSURL>& url, const std::string& source) {
            bool handled = handleOpenURL(url);
            entries.push_back({url->absoluteString(), source, handled});
            return handled;
        });
        resetSDK();
        standIn_ = StandIn::install();
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        resetSDK();
        system_testing::resetOtherApps();
        system_testing::resetPasteboards();
        UIPasteboard::setSharedDirectory("");
        NSLogSetSink(previousSink_);
    }

    // Waits until our app's URL entry has been called `count` times in all.
    bool waitForEntries(std::size_t count) {
        return testsupport::pumpMainRunLoopUntil([&] { return entries.size() >= count; });
    }
    // Waits until the stand-in has received `count` URLs in all.
    bool waitForStandIn(std::size_t count) {
        return testsupport::pumpMainRunLoopUntil([&] { return standIn_->receivedCount() >= count; });
    }

    struct Entry {
        std::string url;
        std::string source;
        bool handled = false;
    };

    testsupport::TemporaryDirectory device_;
    NSLogSink previousSink_;
    Ref<StandIn> standIn_;
    std::vector<Entry> entries;
    std::vector<std::string> log;
};

}  // namespace sdktest

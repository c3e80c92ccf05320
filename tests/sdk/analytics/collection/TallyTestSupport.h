#pragma once
// A fresh analytics world per test: its own sandbox (defaults, caches, ".tally"), bundle values,
// the manual clock, forgotten singletons, and the console lines the library writes.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "foundation/NSRandom.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallySettings.h"
#include "sdk/analytics/collection/TallyUncaughtExceptionHandler.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

#include "system/DeviceProbes.h"
#include "system/SystemTesting.h"
#include "system/UIPasteboard.h"

namespace tallytest {

using LogCapture = testsupport::LogCapture;

// The network the device reports: "WiFi", "CellNetwork" or none.
inline void setNetworkAccess(const std::string& kind) {
    std::vector<detail::NetworkInterfaceAddress> list;
    list.push_back({"lo0", AF_INET, "127.0.0.1", true, true, true});
    if (kind == "WiFi") list.push_back({"en0", AF_INET, "192.168.1.20", true, true, false});
    if (kind == "CellNetwork") list.push_back({"pdp_ip0", AF_INET, "10.1.2.3", true, true, false});
    system_testing::setNetworkInterfaces(list);
}

class TallyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox_ = std::make_unique<testsupport::TemporaryDirectory>();
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_->path()));
        NSUserDefaults::resetStandardUserDefaults();
        NSBundle::setInfoValue("CFBundleIdentifier", "com.example.tuning");
        NSBundle::setInfoValue("CFBundleVersion", "1.0");
        NSBundle::setInfoValue("CFBundleShortVersionString", "1.0");
        NSBundle::setInfoValue("CFBundleDisplayName", "Tuning Demo");
        foundation_testing::seedRandom(20261206);
        // Pasteboards are shared between the apps of a device: each test has its own device.
        UIPasteboard::setSharedDirectory(sandbox_->file("device-pasteboards"));
        setNetworkAccess("WiFi");
        detail::TallyResetForTesting();
        // The parts below the core find it as they do once the app has called the public interface.
        TallyInternal::link();
        clock_ = std::make_unique<testsupport::ManualClock>(startTime());
    }

    void TearDown() override {
        testsupport::drainMainRunLoop();
        TallyUncaughtExceptionHandler::uninstallCrashHandlers();
        detail::TallyResetForTesting();
        clock_.reset();
        system_testing::resetDeviceProbes();
        system_testing::resetPasteboards();
        NSRandomReseedFromSystem();
        NSUserDefaults::resetStandardUserDefaults();
    }

    // Where the manual clock starts; tests that age real files start at the real time.
    virtual double startTime() const { return 1'700'000'000.0; }

    testsupport::ManualClock& clock() { return *clock_; }
    const std::string& sandboxPath() const { return sandbox_->path(); }

    std::unique_ptr<testsupport::TemporaryDirectory> sandbox_;
    std::unique_ptr<testsupport::ManualClock> clock_;
    LogCapture log_;
};

}  // namespace tallytest

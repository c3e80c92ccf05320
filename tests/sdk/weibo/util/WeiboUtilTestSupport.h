#pragma once
// Shared by the tests of the Weibo SDK's utilities: a fresh sandbox (defaults, keychain, Caches)
// and a device pasteboard folder of its own per test, and a log capture.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "system/SystemTesting.h"
#include "system/UIPasteboard.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

namespace weiboutiltest {

using LogCapture = testsupport::LogCapture;

class SandboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox_ = std::make_unique<testsupport::TemporaryDirectory>();
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_->path()));
        NSUserDefaults::resetStandardUserDefaults();
        UIPasteboard::setSharedDirectory(sandbox_->file("device-pasteboards"));
    }
    void TearDown() override {
        system_testing::resetPasteboards();
        NSUserDefaults::resetStandardUserDefaults();
    }
    const std::string& sandboxPath() const { return sandbox_->path(); }
    std::unique_ptr<testsupport::TemporaryDirectory> sandbox_;
};

}  // namespace weiboutiltest

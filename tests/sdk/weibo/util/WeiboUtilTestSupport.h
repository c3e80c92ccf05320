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
#include "tests/support/TestSupport.h"

namespace weiboutiltest {

class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    int count(const std::string& text) const {
        std::lock_guard<std::mutex> guard(lock_);
        int n = 0;
        for (const auto& line : lines_) n += line.find(text) != std::string::npos;
        return n;
    }
    bool contains(const std::string& text) const { return count(text) > 0; }

  private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    NSLogSink previous_;
};

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

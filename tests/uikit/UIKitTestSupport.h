#pragma once
// Shared helpers for the view tests: rectangle comparison with a tolerance, and a fixture that
// leaves no application, window or clock state behind.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/NSLog.h"

#include "graphics/CGGeometry.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UITestDriver.h"

namespace uikittest {

inline ::testing::AssertionResult rectNear(CGRect actual, CGRect expected, double tolerance = 1e-6) {
    auto off = [&](double a, double b) { return std::fabs(a - b) > tolerance; };
    if (off(actual.origin.x, expected.origin.x) || off(actual.origin.y, expected.origin.y) ||
        off(actual.size.width, expected.size.width) || off(actual.size.height, expected.size.height)) {
        return ::testing::AssertionFailure()
               << NSStringFromCGRect(actual) << " is not " << NSStringFromCGRect(expected);
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult pointNear(CGPoint actual, CGPoint expected, double tolerance = 1e-6) {
    if (std::fabs(actual.x - expected.x) > tolerance || std::fabs(actual.y - expected.y) > tolerance) {
        return ::testing::AssertionFailure()
               << NSStringFromCGPoint(actual) << " is not " << NSStringFromCGPoint(expected);
    }
    return ::testing::AssertionSuccess();
}

// Collects the lines the log writes while it lives.
class LogCapture {
  public:
    LogCapture() : old_(NSLogSetSink([this](const std::string& line) { lines.push_back(line); })) {}
    ~LogCapture() { NSLogSetSink(old_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string> lines;

  private:
    NSLogSink old_;
};

// Each test starts with a fresh application, the default screen and no finger down, and drains
// what it left. The touch driver's fingers and step interval outlive a test that stops early.
class UIKitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UIApplication::setSharedApplication(nullptr);
        UIScreen::mainScreen()->resetToConfiguration();
        resetTouchDriver();
    }
    void TearDown() override {
        resetTouchDriver();
        testsupport::drainMainRunLoop();
        UIApplication::setSharedApplication(nullptr);
    }

  private:
    static void resetTouchDriver() {
        UITestDriver::reset();
        UITestDriver::setStepInterval(1.0 / 60);
    }
};

}  // namespace uikittest

#define EXPECT_RECT(actual, x, y, w, h)                                                                      \
    EXPECT_TRUE(uikittest::rectNear((actual), CGRectMake(x, y, w, h), 1e-6))
#define EXPECT_POINT(actual, x, y) EXPECT_TRUE(uikittest::pointNear((actual), CGPointMake(x, y), 1e-6))

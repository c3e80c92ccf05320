#pragma once
// Shared pieces of the application-core tests: a sandbox per test, a loopback server that the
// app's configuration points at, what the API client's blocks reported, and a small picture.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSString.h"
#include "foundation/NSThread.h"
#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "network/NSURLCache.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace apptest {

// What one wrapper call reported.
struct APIOutcome {
    int successes = 0;
    int failures = 0;
    bool offMainThread = false;
    Value reply;
    Ref<NSError> error;         // the success block's error
    Ref<NSError> failureError;  // the failure block's error

    bool done() const { return successes + failures > 0; }
    QVNAPIClient::SuccessBlock success() {
        return [this](const Value& r, const Ref<NSError>& e) {
            if (!NSThread::isMainThread()) offMainThread = true;
            ++successes;
            reply = r;
            error = e;
        };
    }
    QVNAPIClient::FailureBlock failure() {
        return [this](const Ref<NSError>& e) {
            if (!NSThread::isMainThread()) offMainThread = true;
            ++failures;
            failureError = e;
        };
    }
    bool wait(double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil([this] { return done(); }, seconds);
    }
};

inline testsupport::ScriptedReply json(std::string body, int status = 200) {
    return testsupport::ScriptedReply::text(std::move(body), status, "application/json; charset=utf-8");
}

// The fields of a query string or form body, decoded.
inline std::map<std::string, std::string> formFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    if (text.empty()) return fields;
    for (const std::string& pair : NSString::componentsSeparatedByString(text, "&")) {
        auto eq = pair.find('=');
        std::string name = pair.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
        fields[NSString::stringByRemovingPercentEncoding(name).value_or(name)] =
            NSString::stringByRemovingPercentEncoding(value).value_or(value);
    }
    return fields;
}

// An opaque picture of the given size in one colour.
inline Ref<UIImage> solidImage(double width = 8, double height = 6) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(width, height), true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0.9, 0.2, 0.1, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, width, height));
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

// A fresh sandbox and a loopback server that the app's settings point at.
class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        QVNConfiguration::useServer(server.baseURL());
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
    }

    // The API root's path for an endpoint.
    static std::string apiPath(const std::string& endpoint) { return "/trasselin/" + endpoint; }

    testsupport::TemporaryDirectory sandbox_;
    testsupport::LoopbackHTTPServer server;
};

}  // namespace apptest

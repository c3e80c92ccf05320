#pragma once
// Shared pieces of the HTTP client tests: a fixture that keeps the shared URL cache out of the
// way and records what success and failure blocks receive, on which thread.

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSThread.h"
#include "net/HKHTTPRequestOperation.h"
#include "network/NSURLCache.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"

namespace nettest {

// What one request's blocks reported.
struct Outcome {
    int successes = 0;
    int failures = 0;
    bool offMainThread = false;
    Value object;
    Ref<NSError> error;
    Ref<HKHTTPRequestOperation> operation;

    bool done() const { return successes + failures > 0; }

    HKHTTPRequestOperation::SuccessBlock success() {
        return [this](const Ref<HKHTTPRequestOperation>& op, const Value& responseObject) {
            if (!NSThread::isMainThread()) offMainThread = true;
            ++successes;
            operation = op;
            object = responseObject;
        };
    }
    HKHTTPRequestOperation::FailureBlock failure() {
        return [this](const Ref<HKHTTPRequestOperation>& op, const Ref<NSError>& e) {
            if (!NSThread::isMainThread()) offMainThread = true;
            ++failures;
            operation = op;
            error = e;
        };
    }
    // Pumps the main run loop (real time) until a block has run.
    bool wait(double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil([this] { return done(); }, seconds);
    }
};

class NetTest : public ::testing::Test {
  protected:
    void SetUp() override { NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt)); }
    void TearDown() override {
        // Lets the last hand-overs to the main queue run before the next test's state is set up.
        testsupport::drainMainRunLoop();
        NSURLCache::setSharedURLCache(nullptr);
    }

    testsupport::LoopbackHTTPServer server;
};

inline std::string jsonBody(const std::string& text) {
    return text;
}

inline testsupport::ScriptedReply json(std::string body, int status = 200) {
    return testsupport::ScriptedReply::text(std::move(body), status, "application/json");
}

}  // namespace nettest

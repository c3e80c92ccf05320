// The connection operation: its state machine and the announcements of it, start, cancel,
// pause and resume, notifications, the network thread, delegate hooks (redirects, caching,
// challenges), progress, output streams, batches, coding and copying.

#include "net/HKURLConnectionOperation.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSOperationQueue.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIApplication.h"

using testsupport::ScriptedReply;

namespace {

Ref<NSURLRequest> requestFor(const std::string& url) {
    return NSURLRequest::requestWithURL(NSURL::URLWithString(url));
}

// Records the start and finish notifications of one operation, in order.
class NotificationLog {
  public:
    explicit NotificationLog(const Ref<NSObject>& sender) {
        auto center = NSNotificationCenter::defaultCenter();
        for (const char* name :
             {HKNetworkingOperationDidStartNotification, HKNetworkingOperationDidFinishNotification}) {
            std::string n = name;
            tokens_.push_back(
                center->addObserverForName(n, sender, nullptr, [this, n](const Ref<NSNotification>&) {
                    std::lock_guard lock(mutex_);
                    names_.push_back(n == HKNetworkingOperationDidStartNotification ? "start" : "finish");
                }));
        }
    }
    ~NotificationLog() {
        for (auto& t : tokens_) NSNotificationCenter::defaultCenter()->removeObserver(t);
    }
    std::vector<std::string> names() const {
        std::lock_guard lock(mutex_);
        return names_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
    std::vector<Ref<NSObject>> tokens_;
};

// Holds the network thread until released, so that work queued for it waits.
class NetworkThreadBlocker {
  public:
    NetworkThreadBlocker() {
        auto anchor = make<NSObject>();
        anchor_ = anchor;
        performSelectorOnThread(
            anchor, HKURLConnectionOperation::networkRequestThread(),
            [this] {
                std::unique_lock lock(mutex_);
                running_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return released_; });
                // Told while the lock is held: the blocker sees it only once this work no longer
                // touches the blocker's members.
                returned_ = true;
                changed_.notify_all();
            },
            false);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return running_; });
    }
    // The work on the network thread uses this blocker's members until it returns: the blocker
    // outlives it.
    ~NetworkThreadBlocker() {
        release();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return returned_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    Ref<NSObject> anchor_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
    bool released_ = false;
    bool returned_ = false;
};

class ConnectionOperationTest : public nettest::NetTest {
  protected:
    Ref<HKURLConnectionOperation> operation(const std::string& path) {
        return make<HKURLConnectionOperation>(requestFor(server.url(path)));
    }
    static bool waitFinished(const Ref<HKURLConnectionOperation>& op, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil([&] { return op->isFinished(); }, seconds);
    }
};

// ---- the state machine --------------------------------------------------------------------------

TEST(ConnectionOperationState, StartsReadyWithItsDefaults) {
    auto op = make<HKURLConnectionOperation>(requestFor("http://example.test/"));
    EXPECT_EQ(op->state(), HKOperationReadyState);
    EXPECT_TRUE(op->isReady());
    EXPECT_TRUE(op->isConcurrent());
    EXPECT_TRUE(op->shouldUseCredentialStorage());
    EXPECT_EQ(op->runLoopModes(), std::set<std::string>{NSRunLoopCommonModes});
    EXPECT_EQ(op->securityPolicy()->SSLPinningMode(), HKPinningNone);
    EXPECT_NE(op->outputStream(), nullptr);  // made on first use, in memory
    EXPECT_EQ(op->totalBytesRead(), 0);
    EXPECT_EQ(op->responseStringEncoding(), 0u);  // no response yet
}

TEST(ConnectionOperationState, OnlyValidTransitionsAreTaken) {
    auto op = make<HKURLConnectionOperation>(requestFor("http://example.test/"));
    op->setState(HKOperationFinishedState);  // ready -> finished needs a cancel
    EXPECT_EQ(op->state(), HKOperationReadyState);
    op->setState(HKOperationPausedState);
    EXPECT_TRUE(op->isPaused());
    op->setState(HKOperationExecutingState);  // paused -> only ready
    EXPECT_TRUE(op->isPaused());
    op->setState(HKOperationReadyState);
    op->setState(HKOperationExecutingState);
    EXPECT_TRUE(op->isExecuting());
    op->setState(HKOperationReadyState);  // executing -> paused or finished only
    EXPECT_TRUE(op->isExecuting());
    op->setState(HKOperationFinishedState);
    EXPECT_TRUE(op->isFinished());
    for (auto s : {HKOperationReadyState, HKOperationExecutingState, HKOperationPausedState}) {
        op->setState(s);
        EXPECT_TRUE(op->isFinished());
    }
}

TEST(ConnectionOperationState, ReadyToFinishedIsAllowedOnceCancelled) {
    auto op = make<HKURLConnectionOperation>(requestFor("http://example.test/"));
    op->cancel();
    op->setState(HKOperationFinishedState);
    EXPECT_TRUE(op->isFinished());
}

TEST(ConnectionOperationState, ChangesAreAnnouncedForBothKeys) {
    auto op = make<HKURLConnectionOperation>(requestFor("http://example.test/"));
    std::vector<std::string> seen;
    std::vector<Ref<NSKeyValueObservation>> tokens;
    for (const char* key : {"isReady", "isExecuting", "isFinished", "isPaused"}) {
        std::string k = key;
        tokens.push_back(KVO::observe(
            *op, k, NSKeyValueObservingOptionNew, [&seen, k](const Ref<NSObject>&, const Dictionary& change) {
                seen.push_back(k + "=" + change[NSKeyValueChangeNewKey].description());
            }));
    }
    op->setState(HKOperationPausedState);
    op->setState(HKOperationReadyState);
    EXPECT_EQ(seen, (std::vector<std::string>{"isReady=0", "isPaused=1", "isPaused=0", "isReady=1"}));
    EXPECT_TRUE(op->valueForKey("isPaused").isNumber());
    EXPECT_EQ(op->valueForKey("state").intValue(), HKOperationReadyState);
}

TEST(ConnectionOperationState, DescriptionNamesStateAndRequest) {
    auto op = make<HKURLConnectionOperation>(requestFor("http://example.test/x"));
    auto text = op->description();
    EXPECT_EQ(text.rfind("<HKURLConnectionOperation: 0x", 0), 0u) << text;
    EXPECT_NE(text.find("state: isReady, cancelled: NO request: "), std::string::npos) << text;
    EXPECT_NE(text.find("http://example.test/x"), std::string::npos) << text;
    op->cancel();
    EXPECT_NE(op->description().find("cancelled: YES"), std::string::npos);
}

TEST(ConnectionOperationState, DependenciesHoldReadiness) {
    auto a = make<HKURLConnectionOperation>(requestFor("http://example.test/a"));
    auto b = make<HKURLConnectionOperation>(requestFor("http://example.test/b"));
    b->addDependency(a);
    EXPECT_FALSE(b->isReady());
    b->start();  // not ready: nothing happens
    EXPECT_EQ(b->state(), HKOperationReadyState);
    a->cancel();
    a->setState(HKOperationFinishedState);
    EXPECT_TRUE(b->isReady());
}

// ---- start, cancel, notifications
// ----------------------------------------------------------------------------

TEST_F(ConnectionOperationTest, LoadsABodyAndPostsStartThenFinish) {
    server.setReply("/hello", ScriptedReply::text("hello, world"));
    auto op = operation("/hello");
    NotificationLog log(op);
    op->start();
    EXPECT_TRUE(op->isExecuting());
    ASSERT_TRUE(waitFinished(op));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.names().size() == 2; }, 5));
    EXPECT_EQ(log.names(), (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(op->error(), nullptr);
    EXPECT_EQ(op->responseData()->toString(), "hello, world");
    EXPECT_EQ(op->responseString(), "hello, world");
    EXPECT_EQ(op->responseStringEncoding(), NSUTF8StringEncoding);
    EXPECT_EQ(op->totalBytesRead(), 12);
    EXPECT_EQ(asKind<NSHTTPURLResponse>(op->response())->statusCode(), 200);
}

TEST_F(ConnectionOperationTest, StartingACancelledOperationFinishesWithCancelledAndOnlyAFinishNotification) {
    server.setReply("/x", ScriptedReply::text("x"));
    auto op = operation("/x");
    NotificationLog log(op);
    op->cancel();
    op->start();
    ASSERT_TRUE(waitFinished(op));
    testsupport::pumpMainRunLoopUntil([&] { return !log.names().empty(); }, 5);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(log.names(), std::vector<std::string>{"finish"});
    ASSERT_NE(op->error(), nullptr);
    EXPECT_EQ(op->error()->domain(), NSURLErrorDomain);
    EXPECT_EQ(op->error()->code(), NSURLErrorCancelled);
    EXPECT_EQ(op->error()->userInfo()[NSURLErrorFailingURLErrorKey].objectAs<NSURL>()->absoluteString(),
              server.url("/x"));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ConnectionOperationTest, CancelBeforeTheNetworkThreadBeganStillPostsStartThenFinish) {
    server.setReply("/x", ScriptedReply::text("x"));
    auto op = operation("/x");
    NotificationLog log(op);
    {
        NetworkThreadBlocker blocker;
        op->start();
        op->cancel();
    }
    ASSERT_TRUE(waitFinished(op));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.names().size() == 2; }, 5));
    EXPECT_EQ(log.names(), (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(op->error()->code(), NSURLErrorCancelled);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ConnectionOperationTest, CancelWhileLoadingStopsTheConnection) {
    auto reply = ScriptedReply::text(std::string(100, 'x'));
    reply.delayBeforeHeaders = 5;
    server.setReply("/slow", reply);
    auto op = operation("/slow");
    op->start();
    ASSERT_TRUE(server.waitForRequests(1, 5));
    op->cancel();
    ASSERT_TRUE(waitFinished(op, 3));
    EXPECT_EQ(op->error()->code(), NSURLErrorCancelled);
    EXPECT_FALSE(op->responseData().has_value());
}

TEST_F(ConnectionOperationTest, CancelOnAFinishedOperationAndASecondCancelDoNothing) {
    server.setReply("/x", ScriptedReply::text("x"));
    auto op = operation("/x");
    op->start();
    ASSERT_TRUE(waitFinished(op));
    op->cancel();
    EXPECT_FALSE(op->isCancelled());
    EXPECT_EQ(op->error(), nullptr);

    auto other = operation("/x");
    other->cancel();
    other->cancel();
    EXPECT_TRUE(other->isCancelled());
}

TEST_F(ConnectionOperationTest, PauseWhenReadyNeedsNoNetworkAndResumeRunsIt) {
    server.setReply("/x", ScriptedReply::text("body"));
    auto op = operation("/x");
    NotificationLog log(op);
    op->resume();  // not paused: nothing
    EXPECT_EQ(op->state(), HKOperationReadyState);
    op->pause();
    EXPECT_TRUE(op->isPaused());
    EXPECT_FALSE(op->isReady());
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(log.names().empty());
    op->resume();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(op->responseData()->toString(), "body");
}

TEST_F(ConnectionOperationTest, PausingARunningLoadPostsFinishAndStopsTheConnection) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 5;
    server.setReply("/slow", reply);
    auto op = operation("/slow");
    NotificationLog log(op);
    op->start();
    ASSERT_TRUE(server.waitForRequests(1, 5));
    op->pause();
    EXPECT_TRUE(op->isPaused());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.names().size() == 2; }, 5));
    EXPECT_EQ(log.names(), (std::vector<std::string>{"start", "finish"}));
    // Cancelling a paused operation marks it; a paused operation never finishes by itself.
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(op->isPaused());
    EXPECT_FALSE(op->responseData().has_value());
}

TEST_F(ConnectionOperationTest, DelegateWorkRunsOnTheNetworkThread) {
    server.setReply("/from", ScriptedReply::redirect(302, "/to"));
    server.setReply("/to", ScriptedReply::text("arrived"));
    auto op = operation("/from");
    std::string threadName;
    op->setRedirectResponseBlock(
        [&](const Ref<NSURLConnection>&, const Ref<NSURLRequest>& request, const Ref<NSURLResponse>&) {
            threadName = NSThread::currentThread()->name();
            return request;
        });
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(threadName, "HKNetworking");
    EXPECT_EQ(HKURLConnectionOperation::networkRequestThread()->name(), "HKNetworking");
    EXPECT_EQ(op->responseData()->toString(), "arrived");
}

TEST_F(ConnectionOperationTest, RedirectsAreFollowedUnlessTheBlockStopsThem) {
    server.setReply("/from", ScriptedReply::redirect(302, "/to"));
    server.setReply("/to", ScriptedReply::text("arrived"));
    server.setReply("/elsewhere", ScriptedReply::text("rewritten"));

    auto followed = operation("/from");
    followed->start();
    ASSERT_TRUE(waitFinished(followed));
    EXPECT_EQ(followed->responseData()->toString(), "arrived");

    auto stopped = operation("/from");
    stopped->setRedirectResponseBlock([](const Ref<NSURLConnection>&, const Ref<NSURLRequest>&,
                                         const Ref<NSURLResponse>&) { return nullptr; });
    stopped->start();
    ASSERT_TRUE(waitFinished(stopped));
    EXPECT_EQ(asKind<NSHTTPURLResponse>(stopped->response())->statusCode(), 302);

    auto rewritten = operation("/from");
    auto target = requestFor(server.url("/elsewhere"));
    rewritten->setRedirectResponseBlock([&](const Ref<NSURLConnection>&, const Ref<NSURLRequest>&,
                                            const Ref<NSURLResponse>&) { return target; });
    rewritten->start();
    ASSERT_TRUE(waitFinished(rewritten));
    EXPECT_EQ(rewritten->responseData()->toString(), "rewritten");
}

TEST_F(ConnectionOperationTest, CacheBlockDecidesWhatIsStored) {
    auto cache = make<NSURLCache>(1 << 20, 0, std::nullopt);
    NSURLCache::setSharedURLCache(cache);
    server.setReply("/cacheable", ScriptedReply::text("keep me").header("Cache-Control", "max-age=600"));
    auto op = operation("/cacheable");
    int offers = 0;
    op->setCacheResponseBlock([&](const Ref<NSURLConnection>&, const Ref<NSCachedURLResponse>&) {
        ++offers;
        return Ref<NSCachedURLResponse>();
    });
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(offers, 1);
    EXPECT_EQ(cache->cachedResponseForRequest(requestFor(server.url("/cacheable"))), nullptr);

    auto stored = operation("/cacheable");
    stored->start();
    ASSERT_TRUE(waitFinished(stored));
    EXPECT_NE(cache->cachedResponseForRequest(requestFor(server.url("/cacheable"))), nullptr);
}

TEST_F(ConnectionOperationTest, CredentialAnswersAnHTTPChallengeOnce) {
    server.setHandler("/private", [](const testsupport::RecordedRequest& r) {
        if (r.header("Authorization") == "Basic dXNlcjpwYXNz") return ScriptedReply::text("secret");
        auto reply = ScriptedReply::text("who are you", 401);
        reply.header("WWW-Authenticate", "Basic realm=\"members\"");
        return reply;
    });
    auto op = operation("/private");
    op->setCredential(NSURLCredential::credentialWithUser("user", "pass", NSURLCredentialPersistenceNone));
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(op->responseData()->toString(), "secret");

    auto wrong = operation("/private");
    wrong->setCredential(NSURLCredential::credentialWithUser("user", "nope", NSURLCredentialPersistenceNone));
    wrong->start();
    ASSERT_TRUE(waitFinished(wrong));
    EXPECT_EQ(asKind<NSHTTPURLResponse>(wrong->response())->statusCode(), 401);

    auto anonymous = operation("/private");
    anonymous->start();
    ASSERT_TRUE(waitFinished(anonymous));
    EXPECT_EQ(asKind<NSHTTPURLResponse>(anonymous->response())->statusCode(), 401);
}

TEST_F(ConnectionOperationTest, ChallengeBlockReplacesTheBuiltInHandling) {
    server.setHandler("/private", [](const testsupport::RecordedRequest& r) {
        if (r.header("Authorization")) return ScriptedReply::text("ok");
        auto reply = ScriptedReply::text("no", 401);
        reply.header("WWW-Authenticate", "Basic realm=\"r\"");
        return reply;
    });
    auto op = operation("/private");
    int calls = 0;
    op->setWillSendRequestForAuthenticationChallengeBlock(
        [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& challenge) {
            ++calls;
            challenge->sender()->useCredential(
                NSURLCredential::credentialWithUser("a", "b", NSURLCredentialPersistenceNone), challenge);
        });
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(op->responseData()->toString(), "ok");
}

// ---- progress and output streams --------------------------------------------------------------------------

TEST_F(ConnectionOperationTest, DownloadProgressRunsOnTheMainQueueWithRunningTotals) {
    auto reply = ScriptedReply::text(std::string(3000, 'd'));
    reply.trickleBytes = 700;
    reply.trickleDelay = 0.01;
    server.setReply("/big", reply);
    auto op = operation("/big");
    std::vector<std::int64_t> totals;
    std::int64_t expected = 0;
    std::uint64_t sum = 0;
    bool offMain = false;
    op->setDownloadProgressBlock([&](std::uint64_t bytes, std::int64_t total, std::int64_t totalExpected) {
        if (!NSThread::isMainThread()) offMain = true;
        sum += bytes;
        totals.push_back(total);
        expected = totalExpected;
    });
    op->start();
    ASSERT_TRUE(waitFinished(op));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return sum == 3000; }, 5));
    EXPECT_FALSE(offMain);
    EXPECT_GT(totals.size(), 1u);
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    EXPECT_EQ(totals.back(), 3000);
    EXPECT_EQ(expected, 3000);
    EXPECT_EQ(op->totalBytesRead(), 3000);
}

TEST_F(ConnectionOperationTest, BodyGoesToAFileStreamWhenOneIsSet) {
    testsupport::TemporaryDirectory dir;
    server.setReply("/file", ScriptedReply::text(std::string(10000, 'f')));
    auto op = operation("/file");
    op->setOutputStream(NSOutputStream::outputStreamToFileAtPath(dir.file("out.bin"), false));
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(op->error(), nullptr);
    EXPECT_FALSE(op->responseData().has_value());
    EXPECT_EQ(NSData::dataWithContentsOfFile(dir.file("out.bin"))->length(), 10000u);
}

TEST_F(ConnectionOperationTest, AnOutputStreamThatCannotWriteFailsTheOperation) {
    testsupport::TemporaryDirectory dir;
    server.setReply("/file", ScriptedReply::text(std::string(1000, 'f')));
    auto op = operation("/file");
    op->setOutputStream(NSOutputStream::outputStreamToFileAtPath(dir.file("missing/dir/out.bin"), false));
    op->start();
    ASSERT_TRUE(waitFinished(op));
    ASSERT_NE(op->error(), nullptr);

    auto closed = NSOutputStream::outputStreamToMemory();
    closed->open();
    closed->close();
    auto other = operation("/file");
    other->setOutputStream(closed);
    other->start();
    ASSERT_TRUE(waitFinished(other));
    ASSERT_NE(other->error(), nullptr);
    EXPECT_EQ(other->error()->code(), NSURLErrorCannotWriteToFile);
}

TEST_F(ConnectionOperationTest, ReplacingTheOutputStreamClosesTheOldOne) {
    auto op = operation("/x");
    auto first = NSOutputStream::outputStreamToMemory();
    first->open();
    op->setOutputStream(first);
    op->setOutputStream(first);  // the same stream stays open
    EXPECT_EQ(first->streamStatus(), NSStreamStatusOpen);
    op->setOutputStream(NSOutputStream::outputStreamToMemory());
    EXPECT_EQ(first->streamStatus(), NSStreamStatusClosed);
}

TEST_F(ConnectionOperationTest, InputStreamReplacesTheRequestBody) {
    server.setReply("POST", "/in", ScriptedReply::text("ok"));
    auto request = make<NSMutableURLRequest>(NSURL::URLWithString(server.url("/in")));
    request->setHTTPMethod("POST");
    request->setValue(std::string("5"), "Content-Length");
    auto op = make<HKURLConnectionOperation>(request);
    auto stream = NSInputStream::inputStreamWithData(NSData::fromString("hello"));
    op->setInputStream(stream);
    EXPECT_EQ(op->inputStream(), stream);
    EXPECT_EQ(op->request()->HTTPMethod(), "POST");
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(server.requests().at(0).body, "hello");
}

TEST_F(ConnectionOperationTest, ResponseStringUsesTheDeclaredCharset) {
    std::string latin1 = std::string("caf") + static_cast<char>(0xE9);
    server.setReply("/latin", ScriptedReply::text(latin1, 200, "text/plain; charset=ISO-8859-1"));
    auto op = operation("/latin");
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(op->responseStringEncoding(), NSISOLatin1StringEncoding);
    EXPECT_EQ(op->responseString(), "café");
}

// ---- queues and batches
// ---------------------------------------------------------------------------------------

TEST_F(ConnectionOperationTest, RunsInAQueueAfterItsDependencies) {
    server.setReply("/a", ScriptedReply::text("a"));
    server.setReply("/b", ScriptedReply::text("b"));
    auto queue = make<NSOperationQueue>();
    auto a = operation("/a");
    auto b = operation("/b");
    b->addDependency(a);
    queue->addOperation(b);
    queue->addOperation(a);
    ASSERT_TRUE(waitFinished(b));
    EXPECT_TRUE(a->isFinished());
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/a");
    EXPECT_TRUE(queue->waitUntilAllOperationsAreFinished(5));
}

TEST_F(ConnectionOperationTest, CompletionBlockRunsOnItsQueueInItsGroupAndIsReleased) {
    server.setReply("/x", ScriptedReply::text("x"));
    auto op = operation("/x");
    auto group = dispatch_group_create();
    auto queue = dispatch_queue_create("test.completion");
    op->setCompletionGroup(group);
    op->setCompletionQueue(queue);
    std::atomic<int> runs{0};
    op->setCompletionBlock([&] { ++runs; });
    EXPECT_TRUE(static_cast<bool>(op->completionBlock()));
    op->start();
    ASSERT_TRUE(waitFinished(op));
    EXPECT_EQ(dispatch_group_wait(group, dispatch_time(DISPATCH_TIME_NOW, 5 * NSEC_PER_SEC)), 0);
    EXPECT_EQ(runs.load(), 1);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !op->completionBlock(); }, 5));
}

TEST_F(ConnectionOperationTest, BatchOfNothingCompletesWithAnEmptyArray) {
    bool called = false;
    std::size_t count = 99;
    auto ops = HKURLConnectionOperation::batchOfRequestOperations(
        {}, nullptr, [&](const std::vector<Ref<HKURLConnectionOperation>>& done) {
            called = true;
            count = done.size();
            EXPECT_TRUE(NSThread::isMainThread());
        });
    ASSERT_EQ(ops.size(), 1u);
    ops[0]->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return called; }, 5));
    EXPECT_EQ(count, 0u);
}

TEST_F(ConnectionOperationTest, BatchReportsProgressAndCompletesAfterEveryOperation) {
    for (int i = 0; i < 3; ++i)
        server.setReply("/b" + std::to_string(i), ScriptedReply::text(std::to_string(i)));
    std::vector<Ref<HKURLConnectionOperation>> operations;
    std::vector<std::string> events;
    for (int i = 0; i < 3; ++i) {
        auto op = operation("/b" + std::to_string(i));
        op->setCompletionBlock([&events, i] { events.push_back("done " + std::to_string(i)); });
        operations.push_back(op);
    }
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    bool completed = false;
    auto all = HKURLConnectionOperation::batchOfRequestOperations(
        operations, [&](std::size_t finished, std::size_t total) { progress.emplace_back(finished, total); },
        [&](const std::vector<Ref<HKURLConnectionOperation>>& done) {
            EXPECT_EQ(done.size(), 3u);
            events.push_back("batch");
            completed = true;
        });
    ASSERT_EQ(all.size(), 4u);
    auto queue = make<NSOperationQueue>();
    for (auto& op : all) queue->addOperation(op);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return completed; }, 10));
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events.back(), "batch");
    ASSERT_EQ(progress.size(), 3u);
    for (auto& [finished, total] : progress) {
        EXPECT_EQ(total, 3u);
        EXPECT_GE(finished, 1u);
    }
    EXPECT_EQ(progress.back().first, 3u);
}

// ---- background execution
// -------------------------------------------------------------------------------------

TEST_F(ConnectionOperationTest, ExpiredBackgroundTaskCancelsTheOperation) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 5;
    server.setReply("/slow", reply);
    auto op = operation("/slow");
    bool handlerCalled = false;
    op->setShouldExecuteAsBackgroundTaskWithExpirationHandler([&] { handlerCalled = true; });
    auto identifier = op->backgroundTaskIdentifier();
    ASSERT_NE(identifier, 0u);
    op->setShouldExecuteAsBackgroundTaskWithExpirationHandler(nullptr);  // held already: nothing new
    EXPECT_EQ(op->backgroundTaskIdentifier(), identifier);
    op->start();
    ASSERT_TRUE(server.waitForRequests(1, 5));
    UIApplication::sharedApplication()->expireBackgroundTasks();
    EXPECT_TRUE(handlerCalled);
    EXPECT_TRUE(op->isCancelled());
    EXPECT_EQ(op->backgroundTaskIdentifier(), 0u);
    auto running = UIApplication::sharedApplication()->runningBackgroundTasks();
    EXPECT_EQ(std::find(running.begin(), running.end(), identifier), running.end());
    ASSERT_TRUE(waitFinished(op, 3));
}

TEST_F(ConnectionOperationTest, AnOperationThatGoesEndsItsBackgroundTask) {
    UIBackgroundTaskIdentifier identifier;
    {
        auto op = operation("/x");
        op->setShouldExecuteAsBackgroundTaskWithExpirationHandler(nullptr);
        identifier = op->backgroundTaskIdentifier();
    }
    auto running = UIApplication::sharedApplication()->runningBackgroundTasks();
    EXPECT_EQ(std::find(running.begin(), running.end(), identifier), running.end());
}

// ---- coding and copying
// --------------------------------------------------------------------------------------

TEST_F(ConnectionOperationTest, DecodedOperationIsReadyWithTheArchivedResults) {
    server.setReply("/x", ScriptedReply::text("payload"));
    auto op = operation("/x");
    op->start();
    ASSERT_TRUE(waitFinished(op));
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(Value(op));
    ASSERT_TRUE(archive.has_value());
    Ref<NSError> error;
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKURLConnectionOperation", *archive, &error)
                       .objectAs<HKURLConnectionOperation>();
    ASSERT_NE(decoded, nullptr) << (error ? error->description() : "");
    EXPECT_EQ(decoded->state(), HKOperationReadyState);
    EXPECT_EQ(decoded->request()->URL()->absoluteString(), server.url("/x"));
    EXPECT_EQ(decoded->responseData()->toString(), "payload");
    EXPECT_EQ(decoded->totalBytesRead(), 7);
    EXPECT_EQ(asKind<NSHTTPURLResponse>(decoded->response())->statusCode(), 200);
}

TEST_F(ConnectionOperationTest, ArchivingARunningOperationPausesIt) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 5;
    server.setReply("/slow", reply);
    auto op = operation("/slow");
    op->start();
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(Value(op));
    EXPECT_TRUE(op->isPaused());
    ASSERT_TRUE(archive.has_value());
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKURLConnectionOperation", *archive, nullptr)
                       .objectAs<HKURLConnectionOperation>();
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(decoded->isReady());
}

TEST_F(ConnectionOperationTest, DamagedArchivesNeverCrash) {
    auto op = operation("/x");
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(Value(op));
    ASSERT_TRUE(archive.has_value());
    for (unsigned seed = 0; seed < 200; ++seed) {
        NSKeyedUnarchiver::unarchivedObjectOfClass(
            "HKURLConnectionOperation", NSData::fromString(testsupport::mutate(archive->toString(), seed)),
            nullptr);
    }
}

TEST_F(ConnectionOperationTest, CopyCarriesRequestBlocksQueueAndGroupOnly) {
    auto op = operation("/x");
    int uploads = 0;
    op->setUploadProgressBlock([&](std::int64_t, std::int64_t, std::int64_t) { ++uploads; });
    auto queue = dispatch_queue_create("q");
    auto group = dispatch_group_create();
    op->setCompletionQueue(queue);
    op->setCompletionGroup(group);
    op->setCredential(NSURLCredential::credentialWithUser("u", "p", NSURLCredentialPersistenceNone));
    op->setUserInfo(Dictionary{{"k", 1}});
    op->setRunLoopModes({NSDefaultRunLoopMode});
    op->setCompletionBlock([] {});
    auto copy = asKind<HKURLConnectionOperation>(op->copyObject());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, op);
    EXPECT_EQ(copy->request()->URL()->absoluteString(), op->request()->URL()->absoluteString());
    EXPECT_EQ(copy->completionQueue(), queue);
    EXPECT_EQ(copy->completionGroup(), group);
    EXPECT_EQ(copy->credential(), nullptr);
    EXPECT_TRUE(copy->userInfo().empty());
    EXPECT_EQ(copy->runLoopModes(), std::set<std::string>{NSRunLoopCommonModes});
    EXPECT_FALSE(static_cast<bool>(copy->completionBlock()));
    EXPECT_TRUE(copy->isReady());
    op->setCompletionBlock(nullptr);
}

}  // namespace

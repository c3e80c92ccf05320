#include "net/HKURLSessionManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSThread.h"
#include "net/HKNetworkActivityIndicatorManager.h"
#include "security/SecCertificate.h"
#include "security/SecTrust.h"
#include "security/SecurityTesting.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/HTTPSTestServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::ScriptedReply;

// Invalidates the manager's session and waits until the session has let go of it, so that the
// caller's reference is the last one.
inline void retire(const Ref<HKURLSessionManager>& m) {
    if (!m) return;
    m->session()->invalidateAndCancel();
    testsupport::pumpMainRunLoopUntil([&] { return m->session()->delegate() == nullptr; }, 5);
    m->operationQueue()->waitUntilAllOperationsAreFinished();
}

// What one task's completion handler received.
struct SessionOutcome {
    std::atomic<int> calls{0};
    bool onMainThread = false;
    Ref<NSURLResponse> response;
    Value object;
    Ref<NSError> error;

    HKURLSessionManager::CompletionHandler handler() {
        return [this](const Ref<NSURLResponse>& r, const Value& o, const Ref<NSError>& e) {
            onMainThread = NSThread::isMainThread();
            response = r;
            object = o;
            error = e;
            ++calls;
        };
    }
    bool wait(double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil([this] { return calls.load() > 0; }, seconds);
    }
};

// Records the notifications of one name.
struct NotificationLog {
    std::mutex mutex;
    std::vector<Ref<NSNotification>> seen;
    Ref<NSObject> token;

    explicit NotificationLog(const std::string& name) {
        token = NSNotificationCenter::defaultCenter()->addObserverForName(
            name, nullptr, nullptr, [this](const Ref<NSNotification>& n) {
                std::lock_guard lock(mutex);
                seen.push_back(n);
            });
    }
    ~NotificationLog() { NSNotificationCenter::defaultCenter()->removeObserver(token.get()); }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return seen.size();
    }
    std::size_t countFrom(const Ref<NSObject>& sender) {
        std::lock_guard lock(mutex);
        return static_cast<std::size_t>(
            std::count_if(seen.begin(), seen.end(), [&](const auto& n) { return n->object() == sender; }));
    }
    Ref<NSNotification> last() {
        std::lock_guard lock(mutex);
        return seen.empty() ? nullptr : seen.back();
    }
};

class SessionManagerTest : public nettest::NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        manager = make<HKURLSessionManager>();
    }
    void TearDown() override {
        retire(manager);
        NetTest::TearDown();
    }
    Ref<NSURLRequest> request(const std::string& path) {
        return NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(path)));
    }

    Ref<HKURLSessionManager> manager;
};

}  // namespace

TEST_F(SessionManagerTest, DefaultsAndDescription) {
    EXPECT_NE(manager->session(), nullptr);
    EXPECT_EQ(manager->operationQueue()->maxConcurrentOperationCount(), 1);
    EXPECT_FALSE(manager->sessionConfiguration()->identifier());
    EXPECT_NE(asKind<HKJSONResponseSerializer>(manager->responseSerializer()), nullptr);
    EXPECT_EQ(manager->reachabilityManager(), HKNetworkReachabilityManager::sharedManager());
    EXPECT_EQ(manager->lock()->name(),
              std::optional<std::string>("com.quentaro.networking.session.manager.lock"));
    EXPECT_EQ(manager->taskDescriptionForSessionTasks(),
              NSString::stringWithFormat("%p", static_cast<const void*>(manager.get())));
    EXPECT_NE(manager->description().find("<HKURLSessionManager: 0x"), std::string::npos);
    EXPECT_NE(manager->description().find("session: <NSURLSession"), std::string::npos);
}

TEST_F(SessionManagerTest, DataTaskDecodesJSONAndPostsCompletion) {
    server.setReply("/json", nettest::json(R"({"a":1})"));
    NotificationLog completes(HKNetworkingTaskDidCompleteNotification);
    SessionOutcome outcome;
    auto task = manager->dataTaskWithRequest(request("/json"), outcome.handler());
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->state(), NSURLSessionTaskStateSuspended);
    EXPECT_EQ(task->taskDescription(), manager->taskDescriptionForSessionTasks());
    EXPECT_NE(manager->delegateForTask(task), nullptr);
    task->resume();
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_EQ(outcome.error, nullptr);
    EXPECT_EQ(outcome.object["a"].intValue(), 1);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return completes.count() == 1; }));
    auto info = *completes.last()->userInfo();
    EXPECT_EQ(completes.last()->object(), task);
    EXPECT_TRUE(info[HKNetworkingTaskDidCompleteResponseSerializerKey].isObject());
    EXPECT_EQ(info[HKNetworkingTaskDidCompleteResponseDataKey].data()->toString(), R"({"a":1})");
    EXPECT_EQ(info[HKNetworkingTaskDidCompleteSerializedResponseKey]["a"].intValue(), 1);
    EXPECT_TRUE(info[HKNetworkingTaskDidCompleteErrorKey].isNil());
    // The session's queue lets go of the task's delegate after handing the completion on.
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !manager->delegateForTask(task); }));
}

TEST_F(SessionManagerTest, DecodingAndTransportErrorsReachTheCompletion) {
    server.setReply("/html", ScriptedReply::text("<html>", 200, "text/html"));
    SessionOutcome wrongType;
    manager->dataTaskWithRequest(request("/html"), wrongType.handler())->resume();
    ASSERT_TRUE(wrongType.wait());
    ASSERT_NE(wrongType.error, nullptr);
    EXPECT_EQ(wrongType.error->code(), NSURLErrorCannotDecodeContentData);

    auto cut = nettest::json(std::string(3000, ' ') + "{}");
    cut.truncateAt = 10;
    server.setReply("/cut", cut);
    SessionOutcome transport;
    manager->dataTaskWithRequest(request("/cut"), transport.handler())->resume();
    ASSERT_TRUE(transport.wait());
    ASSERT_NE(transport.error, nullptr);
    EXPECT_EQ(transport.error->domain(), NSURLErrorDomain);
    EXPECT_TRUE(transport.object.isNil());
}

TEST_F(SessionManagerTest, MalformedRepliesFailCleanly) {
    std::string valid = R"({"list":[1,2,{"k":"v"}],"n":null,"s":"\u00e9"})";
    for (unsigned seed = 0; seed < 40; ++seed) {
        std::string body = seed == 0 ? valid.substr(0, valid.size() / 2) : testsupport::mutate(valid, seed);
        server.setReply("/m", nettest::json(body));
        SessionOutcome outcome;
        manager->dataTaskWithRequest(request("/m"), outcome.handler())->resume();
        ASSERT_TRUE(outcome.wait()) << seed;
        EXPECT_EQ(outcome.calls.load(), 1) << seed;
        if (outcome.error) {
            EXPECT_TRUE(outcome.object.isNil()) << seed;
        }
    }
}

TEST_F(SessionManagerTest, CompletionQueueAndGroupAreUsed) {
    server.setReply("/q", nettest::json("[]"));
    auto queue = dispatch_queue_create("test.completion", DISPATCH_QUEUE_SERIAL);
    auto group = dispatch_group_create();
    manager->setCompletionQueue(queue);
    manager->setCompletionGroup(group);
    SessionOutcome outcome;
    manager->dataTaskWithRequest(request("/q"), outcome.handler())->resume();
    ASSERT_TRUE(outcome.wait());
    EXPECT_FALSE(outcome.onMainThread);
    EXPECT_EQ(dispatch_group_wait(group, DISPATCH_TIME_FOREVER), 0);
}

TEST_F(SessionManagerTest, ResumeAndSuspendNotificationsOnlyForOwnTasks) {
    server.setReply("/n", nettest::json("{}"));
    NotificationLog internalResumes(HKNSURLSessionTaskDidResumeNotification);
    NotificationLog resumes(HKNetworkingTaskDidResumeNotification);
    NotificationLog suspends(HKNetworkingTaskDidSuspendNotification);
    SessionOutcome outcome;
    auto task = manager->dataTaskWithRequest(request("/n"), outcome.handler());
    task->resume();
    EXPECT_EQ(internalResumes.count(), 1u);  // synchronous
    task->resume();                          // already running: nothing
    task->suspend();
    task->suspend();  // already suspended: nothing
    task->resume();

    auto other = make<HKURLSessionManager>();
    auto foreign = other->dataTaskWithRequest(request("/n"), nullptr);
    foreign->resume();
    auto plain = NSURLSession::sharedSession()->dataTaskWithRequest(request("/n"));
    plain->resume();

    ASSERT_TRUE(outcome.wait());
    testsupport::pumpMainRunLoopUntil([&] { return resumes.countFrom(task) >= 2 && suspends.count() >= 1; },
                                      2);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(resumes.countFrom(task), 2u);
    EXPECT_EQ(suspends.countFrom(task), 1u);
    EXPECT_EQ(resumes.countFrom(plain), 0u);
    EXPECT_EQ(resumes.countFrom(foreign), 1u);  // the other manager's own
    EXPECT_EQ(internalResumes.count(), 4u);
    retire(other);
}

TEST_F(SessionManagerTest, ActivityIndicatorCountsSessionTasks) {
    auto indicator = HKNetworkActivityIndicatorManager::sharedManager();
    auto before = indicator->activityCount();
    auto reply = nettest::json("{}");
    reply.delayBeforeHeaders = 0.3;
    server.setReply("/slow", reply);
    SessionOutcome outcome;
    manager->dataTaskWithRequest(request("/slow"), outcome.handler())->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return indicator->activityCount() == before + 1; }));
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return indicator->activityCount() == before; }));
}

TEST_F(SessionManagerTest, UploadProgressFollowsTheBodyAndControlsTheTask) {
    server.setReply("/up", nettest::json("{}"));
    auto req = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/up")));
    req->setHTTPMethod("POST");
    Ref<NSProgress> progress;
    SessionOutcome outcome;
    auto task = manager->uploadTaskWithRequestFromData(req, NSData::fromString(std::string(100000, 'u')),
                                                       &progress, outcome.handler());
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress, manager->uploadProgressForTask(task));
    EXPECT_EQ(progress, manager->downloadProgressForTask(task));
    EXPECT_EQ(progress->totalUnitCount(), 100000);
    std::atomic<std::int64_t> blockTotal{0};
    manager->setTaskDidSendBodyDataBlock(
        [&](auto&, auto&, std::int64_t, std::int64_t total, std::int64_t) { blockTotal = total; });
    task->resume();
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(progress->completedUnitCount(), 100000);
    EXPECT_EQ(blockTotal.load(), 100000);

    // The progress's cancellation handler cancels the task; its pausing handler suspends it.
    auto stalled = nettest::json("{}");
    stalled.delayBeforeHeaders = 5;
    server.setReply("/stall", stalled);
    req->setURL(NSURL::URLWithString(server.url("/stall")));
    Ref<NSProgress> second;
    SessionOutcome cancelled;
    auto other =
        manager->uploadTaskWithRequestFromData(req, NSData::fromString("x"), &second, cancelled.handler());
    other->resume();
    second->pause();
    EXPECT_EQ(other->state(), NSURLSessionTaskStateSuspended);
    second->cancel();
    ASSERT_TRUE(cancelled.wait());
    EXPECT_EQ(cancelled.error->code(), NSURLErrorCancelled);
}

namespace {

// A stream that does not know its length.
class UnsizedStream : public NSInputStream {
  public:
    NSInteger read(std::uint8_t*, NSUInteger) override { return 0; }
    bool hasBytesAvailable() const override { return false; }
};

}  // namespace

TEST_F(SessionManagerTest, UnknownUploadSizeComesFromContentLength) {
    auto req = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/s")));
    req->setHTTPMethod("POST");
    req->setHTTPBodyStream(make<UnsizedStream>());
    Ref<NSProgress> progress;
    auto unknown = manager->uploadTaskWithStreamedRequest(req, &progress, nullptr);
    EXPECT_EQ(progress->totalUnitCount(), NSURLSessionTransferSizeUnknown);
    req->setValue("10", "Content-Length");
    auto known = manager->uploadTaskWithStreamedRequest(req, &progress, nullptr);
    EXPECT_EQ(progress->totalUnitCount(), 10);
    unknown->cancel();
    known->cancel();
}

TEST_F(SessionManagerTest, DownloadMovesToTheDestination) {
    testsupport::TemporaryDirectory dir;
    server.setReply("/file", ScriptedReply::text("file body", 200, "application/octet-stream"));
    Ref<NSProgress> progress;
    std::atomic<bool> done{false};
    Ref<NSURL> filePath;
    Ref<NSError> error;
    auto destination = NSURL::fileURLWithPath(dir.file("saved.bin"));
    auto task = manager->downloadTaskWithRequest(
        request("/file"), &progress,
        [&](const Ref<NSURL>& temporary, const Ref<NSURLResponse>& response) {
            EXPECT_TRUE(std::filesystem::exists(temporary->path()));
            EXPECT_EQ(asKind<NSHTTPURLResponse>(response)->statusCode(), 200);
            return destination;
        },
        [&](const Ref<NSURLResponse>&, const Ref<NSURL>& path, const Ref<NSError>& e) {
            filePath = path;
            error = e;
            done = true;
        });
    NotificationLog completes(HKNetworkingTaskDidCompleteNotification);
    task->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(error, nullptr);
    ASSERT_NE(filePath, nullptr);
    EXPECT_EQ(filePath->path(), destination->path());
    std::ifstream in(destination->path());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "file body");
    EXPECT_EQ(progress->completedUnitCount(), 9);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return completes.count() == 1; }));
    EXPECT_TRUE((*completes.last()->userInfo())[HKNetworkingTaskDidCompleteAssetPathKey].isObject());
}

TEST_F(SessionManagerTest, DownloadWithoutDestinationReportsNoPath) {
    server.setReply("/file", ScriptedReply::text("x", 200, "application/octet-stream"));
    std::atomic<bool> done{false};
    Ref<NSURL> filePath;
    manager
        ->downloadTaskWithRequest(
            request("/file"), nullptr,
            [](const Ref<NSURL>&, const Ref<NSURLResponse>&) { return Ref<NSURL>(); },
            [&](const Ref<NSURLResponse>&, const Ref<NSURL>& path, const Ref<NSError>&) {
                filePath = path;
                done = true;
            })
        ->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(filePath, nullptr);
}

TEST_F(SessionManagerTest, FailedMoveGivesTheMoveErrorAndNoPath) {
    testsupport::TemporaryDirectory dir;
    server.setReply("/file", ScriptedReply::text("x", 200, "application/octet-stream"));
    NotificationLog moveErrors(HKURLSessionDownloadTaskDidFailToMoveFileNotification);
    std::atomic<bool> done{false};
    Ref<NSURL> filePath;
    Ref<NSError> error;
    auto impossible = NSURL::fileURLWithPath(dir.file("no/such/dir/file"));
    manager
        ->downloadTaskWithRequest(
            request("/file"), nullptr,
            [&](const Ref<NSURL>&, const Ref<NSURLResponse>&) { return impossible; },
            [&](const Ref<NSURLResponse>&, const Ref<NSURL>& path, const Ref<NSError>& e) {
                filePath = path;
                error = e;
                done = true;
            })
        ->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(filePath, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(moveErrors.count(), 1u);
}

TEST_F(SessionManagerTest, ManagerWideDownloadBlockWins) {
    testsupport::TemporaryDirectory dir;
    server.setReply("/file", ScriptedReply::text("wide", 200, "application/octet-stream"));
    auto wide = NSURL::fileURLWithPath(dir.file("wide.bin"));
    manager->setDownloadTaskDidFinishDownloadingBlock([&](auto&, auto&, const Ref<NSURL>&) { return wide; });
    std::atomic<bool> askedTaskDestination{false};
    std::atomic<bool> done{false};
    Ref<NSURL> filePath;
    manager
        ->downloadTaskWithRequest(
            request("/file"), nullptr,
            [&](const Ref<NSURL>&, const Ref<NSURLResponse>&) {
                askedTaskDestination = true;
                return Ref<NSURL>();
            },
            [&](const Ref<NSURLResponse>&, const Ref<NSURL>& path, const Ref<NSError>&) {
                filePath = path;
                done = true;
            })
        ->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_FALSE(askedTaskDestination.load());
    ASSERT_NE(filePath, nullptr);
    EXPECT_EQ(filePath->path(), wide->path());
}

TEST_F(SessionManagerTest, ResumeDataContinuesThroughTheManager) {
    std::string content(30000, 'r');
    server.setHandler("/r", [&](const testsupport::RecordedRequest& r) {
        ScriptedReply reply;
        reply.headers = {{"ETag", "\"e\""}, {"Content-Type", "application/octet-stream"}};
        if (auto range = r.header("Range")) {
            std::size_t from = std::stoul(range->substr(6));
            reply.status = 206;
            reply.body = content.substr(from);
            reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-29999/30000");
        } else {
            reply.body = content;
            reply.trickleDelay = 0.005;
            reply.trickleBytes = 1000;
        }
        return reply;
    });
    std::optional<NSData> resumeData;
    std::atomic<bool> produced{false};
    Ref<NSURLSessionDownloadTask> task =
        manager->downloadTaskWithRequest(request("/r"), nullptr, nullptr, nullptr);
    manager->setDownloadTaskDidWriteDataBlock(
        [&](auto&, const Ref<NSURLSessionDownloadTask>& t, auto, auto, auto) {
            if (!produced.exchange(true)) {
                t->cancelByProducingResumeData([&](const std::optional<NSData>& data) { resumeData = data; });
            }
        });
    task->resume();
    ASSERT_TRUE(
        testsupport::pumpMainRunLoopUntil([&] { return task->state() == NSURLSessionTaskStateCompleted; }));
    manager->operationQueue()->waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(resumeData);
    manager->setDownloadTaskDidWriteDataBlock(nullptr);
    std::atomic<std::int64_t> offset{-1};
    manager->setDownloadTaskDidResumeBlock([&](auto&, auto&, std::int64_t o, std::int64_t) { offset = o; });
    testsupport::TemporaryDirectory dir;
    std::atomic<bool> done{false};
    Ref<NSProgress> progress;
    manager
        ->downloadTaskWithResumeData(
            *resumeData, &progress,
            [&](const Ref<NSURL>&, const Ref<NSURLResponse>&) {
                return NSURL::fileURLWithPath(dir.file("out"));
            },
            [&](const Ref<NSURLResponse>&, const Ref<NSURL>&, const Ref<NSError>& e) {
                EXPECT_EQ(e, nullptr);
                done = true;
            })
        ->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_GT(offset.load(), 0);
    EXPECT_EQ(progress->totalUnitCount(), 30000);
    std::ifstream in(dir.file("out"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
}

TEST_F(SessionManagerTest, TaskListsConcatenateInOrder) {
    auto data = manager->dataTaskWithRequest(request("/a"), nullptr);
    auto upload =
        manager->uploadTaskWithRequestFromData(request("/b"), NSData::fromString("x"), nullptr, nullptr);
    auto download = manager->downloadTaskWithRequest(request("/c"), nullptr, nullptr, nullptr);
    auto all = manager->tasks();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], data);
    EXPECT_EQ(all[1], upload);
    EXPECT_EQ(all[2], download);
    EXPECT_EQ(manager->dataTasks().size(), 1u);
    EXPECT_EQ(manager->uploadTasks().size(), 1u);
    EXPECT_EQ(manager->downloadTasks().size(), 1u);
    EXPECT_FALSE(manager->tasksForKeyPath("other"));
}

TEST_F(SessionManagerTest, OptionalCallbacksAreClaimedOnlyWithTheirBlocks) {
    for (const char* selector : {"URLSession:task:willPerformHTTPRedirection:newRequest:completionHandler:",
                                 "URLSession:dataTask:didReceiveResponse:completionHandler:",
                                 "URLSession:dataTask:willCacheResponse:completionHandler:",
                                 "URLSessionDidFinishEventsForBackgroundURLSession:"}) {
        EXPECT_FALSE(manager->respondsToSelector(selector)) << selector;
    }
    EXPECT_TRUE(manager->respondsToSelector("URLSession:task:didCompleteWithError:"));
    EXPECT_FALSE(manager->respondsToSelector("noSuchSelector:"));
    manager->setTaskWillPerformHTTPRedirectionBlock(
        [](auto&, auto&, auto&, const Ref<NSURLRequest>& r) { return r; });
    manager->setDataTaskDidReceiveResponseBlock(
        [](auto&, auto&, auto&) { return NSURLSessionResponseAllow; });
    manager->setDataTaskWillCacheResponseBlock(
        [](auto&, auto&, const Ref<NSCachedURLResponse>& c) { return c; });
    manager->setDidFinishEventsForBackgroundURLSessionBlock([](auto&) {});
    EXPECT_TRUE(manager->respondsToSelector(
        "URLSession:task:willPerformHTTPRedirection:newRequest:completionHandler:"));
    EXPECT_TRUE(manager->respondsToSelector("URLSessionDidFinishEventsForBackgroundURLSession:"));
}

TEST_F(SessionManagerTest, BlocksOverrideRedirectAndResponse) {
    server.setReply("/from", ScriptedReply::redirect(302, "/to"));
    server.setReply("/to", nettest::json("{}"));
    manager->setTaskWillPerformHTTPRedirectionBlock(
        [](auto&, auto&, auto&, auto&) { return Ref<NSURLRequest>(); });
    SessionOutcome stopped;
    auto task = manager->dataTaskWithRequest(request("/from"), stopped.handler());
    task->resume();
    ASSERT_TRUE(stopped.wait());
    EXPECT_EQ(asKind<NSHTTPURLResponse>(stopped.response)->statusCode(), 302);

    manager->setDataTaskDidReceiveResponseBlock(
        [](auto&, auto&, auto&) { return NSURLSessionResponseCancel; });
    SessionOutcome refused;
    manager->dataTaskWithRequest(request("/to"), refused.handler())->resume();
    ASSERT_TRUE(refused.wait());
    ASSERT_NE(refused.error, nullptr);
    EXPECT_EQ(refused.error->code(), NSURLErrorCancelled);
}

TEST_F(SessionManagerTest, BecomingADownloadMovesTheTaskDelegate) {
    server.setReply("/become", ScriptedReply::text("as file", 200, "application/octet-stream"));
    manager->setResponseSerializer(HKHTTPResponseSerializer::serializer());
    manager->setDataTaskDidReceiveResponseBlock(
        [](auto&, auto&, auto&) { return NSURLSessionResponseBecomeDownload; });
    std::atomic<bool> became{false};
    manager->setDataTaskDidBecomeDownloadTaskBlock([&](auto&, auto&, auto&) { became = true; });
    testsupport::TemporaryDirectory dir;
    manager->setDownloadTaskDidFinishDownloadingBlock(
        [&](auto&, auto&, const Ref<NSURL>&) { return NSURL::fileURLWithPath(dir.file("became")); });
    SessionOutcome outcome;
    manager->dataTaskWithRequest(request("/become"), outcome.handler())->resume();
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(became.load());
    EXPECT_EQ(outcome.error, nullptr);
    ASSERT_NE(outcome.object.objectAs<NSURL>(), nullptr);
    std::ifstream in(dir.file("became"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "as file");
}

TEST_F(SessionManagerTest, InvalidationPostsAndDropsDelegates) {
    NotificationLog invalidations(HKURLSessionDidInvalidateNotification);
    std::atomic<bool> blockCalled{false};
    manager->setSessionDidBecomeInvalidBlock([&](auto&, auto&) { blockCalled = true; });
    auto task = manager->dataTaskWithRequest(request("/x"), nullptr);
    manager->invalidateSessionCancelingTasks(true);
    EXPECT_FALSE(manager->session()->isInvalidated());  // queued on the main queue
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return invalidations.count() == 1; }));
    EXPECT_TRUE(blockCalled.load());
    EXPECT_EQ(manager->delegateForTask(task), nullptr);
    EXPECT_EQ(manager->dataTaskWithRequest(request("/x"), nullptr), nullptr);
}

TEST_F(SessionManagerTest, CodingAndCopyingKeepTheConfiguration) {
    auto configuration = NSURLSessionConfiguration::defaultSessionConfiguration();
    configuration->setTimeoutIntervalForRequest(9);
    auto configured = make<HKURLSessionManager>(configuration);
    configured->setResponseSerializer(HKHTTPResponseSerializer::serializer());
    auto copy = asKind<HKURLSessionManager>(configured->copyObject());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->session()->configuration()->timeoutIntervalForRequest(), 9);
    EXPECT_NE(asKind<HKJSONResponseSerializer>(copy->responseSerializer()), nullptr);
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(configured), true, nullptr);
    ASSERT_TRUE(data);
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKURLSessionManager", *data, nullptr)
                       .objectAs<HKURLSessionManager>();
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->session()->configuration()->timeoutIntervalForRequest(), 9);
    for (auto& m : {configured, copy, decoded}) retire(m);
    auto garbage = NSKeyedUnarchiver::unarchivedObjectOfClass("HKURLSessionManager",
                                                              NSData::fromString("junk"), nullptr);
    EXPECT_TRUE(garbage.isNil());
}

TEST_F(SessionManagerTest, ConcurrentFactoriesAndCompletions) {
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return nettest::json("{\"path\":\"" + r.path + "\"}"); });
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                std::string path = "/c" + std::to_string(t) + "_" + std::to_string(i);
                manager
                    ->dataTaskWithRequest(request(path),
                                          [&, path](auto&, const Value& object, const Ref<NSError>& error) {
                                              if (!error && object["path"].stringValue() == path) ++good;
                                          })
                    ->resume();
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return good.load() == 32; }, 20));
}

// ---- server trust ----------------------------------------------------------------------------------------
class SessionManagerTrustTest : public SessionManagerTest {
  protected:
    // A root a case made trusted would otherwise stay trusted for every later test.
    void TearDown() override {
        SessionManagerTest::TearDown();
        security_testing::resetSystemAnchors();
    }
    std::shared_ptr<SessionOutcome> get(testsupport::HTTPSTestServer& https,
                                        const Ref<HKSecurityPolicy>& policy) {
        manager->setSecurityPolicy(policy);
        manager->setResponseSerializer(HKHTTPResponseSerializer::serializer());
        auto req = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(https.url("/pinned")));
        req->setTimeoutInterval(5);
        auto outcome = std::make_shared<SessionOutcome>();
        manager->dataTaskWithRequest(req, outcome->handler())->resume();
        EXPECT_TRUE(outcome->wait());
        return outcome;
    }
    static Ref<HKSecurityPolicy> pinning(std::vector<NSData> pinned) {
        auto policy = HKSecurityPolicy::policyWithPinningMode(HKPinningCertificate);
        policy->setPinnedCertificates(std::move(pinned));
        return policy;
    }
};

TEST_F(SessionManagerTrustTest, PinnedChainLoadsAndOtherPinsRefuseBeforeTheRequest) {
    const auto& pki = testsupport::testPKI();
    security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
    testsupport::HTTPSTestServer https(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    https.setResponse(200, "secret");
    ASSERT_TRUE(https.start()) << https.lastError();

    auto accepted = get(https, pinning({pki.leaf.data(), pki.intermediate.data()}));
    ASSERT_EQ(accepted->error, nullptr) << accepted->error->description();
    EXPECT_EQ(accepted->object.data()->toString(), "secret");

    auto refused = get(https, pinning({pki.otherLeaf.data(), pki.otherRoot.data()}));
    ASSERT_NE(refused->error, nullptr);
    EXPECT_EQ(refused->error->code(), NSURLErrorCancelled);
    https.waitUntilIdle(2);
    EXPECT_EQ(https.requestsAnswered(), 1);
}

TEST_F(SessionManagerTrustTest, ChallengeBlockDecides) {
    const auto& pki = testsupport::testPKI();
    testsupport::HTTPSTestServer https(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    https.setResponse(200, "ok");
    ASSERT_TRUE(https.start()) << https.lastError();
    std::atomic<int> asked{0};
    manager->setTaskDidReceiveAuthenticationChallengeBlock(
        [&](auto&, auto&, const Ref<NSURLAuthenticationChallenge>& challenge,
            Ref<NSURLCredential>* credential) {
            ++asked;
            *credential = NSURLCredential::credentialForTrust(challenge->protectionSpace()->serverTrust());
            return NSURLSessionAuthChallengeUseCredential;
        });
    auto outcome = get(https, HKSecurityPolicy::defaultPolicy());
    EXPECT_EQ(outcome->error, nullptr);
    EXPECT_GE(asked.load(), 1);
}

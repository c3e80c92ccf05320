#include "network/NSURLSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSPropertyListSerialization.h"
#include "network/NSURLSessionProgress.h"
#include "network/NSURLTransport.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::ScriptedReply;

// Records every callback, in order, under a lock (callbacks run on the delegate queue).
class Recorder : public NSObject, public NSURLSessionDataDelegate, public NSURLSessionDownloadDelegate {
  public:
    std::string className() const override { return "Recorder"; }

    mutable std::mutex mutex;
    std::vector<std::string> events;
    NSData body;
    Ref<NSError> error;
    std::atomic<int> completions{0};
    std::atomic<bool> invalid{false};
    std::string downloaded;
    bool fileExistedDuringCallback = false;
    std::string location;
    std::int64_t lastTotalWritten = 0;
    std::int64_t resumeOffset = -1;
    std::int64_t resumeExpected = -1;
    std::int64_t lastSent = 0;
    std::int64_t lastExpectedToSend = 0;
    std::function<void(const Ref<NSURLSessionTask>&)> onFirstData;
    bool stopRedirects = false;

    void note(std::string event) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }
    std::vector<std::string> snapshot() const {
        std::lock_guard lock(mutex);
        return events;
    }

    void URLSessionDidBecomeInvalidWithError(const Ref<NSURLSession>&, const Ref<NSError>&) override {
        note("invalid");
        invalid = true;
    }
    void URLSessionTaskWillPerformHTTPRedirection(
        const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&, const Ref<NSHTTPURLResponse>& response,
        const Ref<NSURLRequest>& request, std::function<void(const Ref<NSURLRequest>&)> completion) override {
        note("redirect " + std::to_string(response ? response->statusCode() : 0));
        completion(stopRedirects ? nullptr : request);
    }
    bool implementsURLSessionTaskWillPerformHTTPRedirection() const override { return true; }
    void URLSessionTaskDidSendBodyData(const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&, std::int64_t,
                                       std::int64_t total, std::int64_t expected) override {
        std::lock_guard lock(mutex);
        if (events.empty() || events.back() != "sent") events.push_back("sent");
        lastSent = total;
        lastExpectedToSend = expected;
    }
    void URLSessionTaskDidCompleteWithError(const Ref<NSURLSession>&, const Ref<NSURLSessionTask>& task,
                                            const Ref<NSError>& e) override {
        note(e ? "complete " + std::to_string(e->code()) : "complete");
        {
            std::lock_guard lock(mutex);
            error = e;
        }
        EXPECT_EQ(task->state(), NSURLSessionTaskStateCompleted);
        ++completions;
    }
    void URLSessionDataTaskDidReceiveResponse(
        const Ref<NSURLSession>&, const Ref<NSURLSessionDataTask>&, const Ref<NSURLResponse>&,
        std::function<void(NSURLSessionResponseDisposition)> completion) override {
        note("response");
        completion(NSURLSessionResponseAllow);
    }
    bool implementsURLSessionDataTaskDidReceiveResponse() const override { return true; }
    void URLSessionDataTaskDidReceiveData(const Ref<NSURLSession>&, const Ref<NSURLSessionDataTask>& task,
                                          const NSData& data) override {
        bool first;
        {
            std::lock_guard lock(mutex);
            first = body.empty();
            if (events.empty() || events.back() != "data") events.push_back("data");
            body.appendData(data);
        }
        if (first && onFirstData) onFirstData(task);
    }
    void URLSessionDownloadTaskDidFinishDownloadingToURL(const Ref<NSURLSession>&,
                                                         const Ref<NSURLSessionDownloadTask>&,
                                                         const Ref<NSURL>& url) override {
        note("finished download");
        std::ifstream in(url->path(), std::ios::binary);
        std::lock_guard lock(mutex);
        fileExistedDuringCallback = static_cast<bool>(in);
        downloaded.assign(std::istreambuf_iterator<char>(in), {});
        location = url->path();
    }
    void URLSessionDownloadTaskDidWriteData(const Ref<NSURLSession>&,
                                            const Ref<NSURLSessionDownloadTask>& task, std::int64_t,
                                            std::int64_t totalWritten, std::int64_t) override {
        bool first;
        {
            std::lock_guard lock(mutex);
            first = lastTotalWritten == 0;
            if (events.empty() || events.back() != "write") events.push_back("write");
            lastTotalWritten = totalWritten;
        }
        if (first && onFirstData) onFirstData(task);
    }
    void URLSessionDownloadTaskDidResumeAtOffset(const Ref<NSURLSession>&,
                                                 const Ref<NSURLSessionDownloadTask>&, std::int64_t offset,
                                                 std::int64_t expected) override {
        note("resumed");
        std::lock_guard lock(mutex);
        resumeOffset = offset;
        resumeExpected = expected;
    }
};

bool waitFor(const std::function<bool()>& condition, double seconds = 10) {
    return testsupport::pumpMainRunLoopUntil(condition, seconds);
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        recorder = make<Recorder>();
        session = NSURLSession::sessionWithConfiguration(
            NSURLSessionConfiguration::defaultSessionConfiguration(), recorder, nullptr);
    }
    void TearDown() override {
        session->invalidateAndCancel();
        waitFor([&] { return recorder->invalid.load(); }, 5);
        NSURLCache::setSharedURLCache(nullptr);
    }
    Ref<NSURLRequest> request(const std::string& path) { return NSURLRequest::requestWithURL(url(path)); }
    Ref<NSURL> url(const std::string& path) { return NSURL::URLWithString(server.url(path)); }

    testsupport::LoopbackHTTPServer server;
    Ref<Recorder> recorder;
    Ref<NSURLSession> session;
};

// A body served with Range support and an ETag, like a download server.
ScriptedReply rangedReply(const testsupport::RecordedRequest& request, const std::string& body,
                          double trickle = 0) {
    ScriptedReply reply;
    reply.headers = {{"ETag", "\"v1\""}, {"Content-Type", "application/octet-stream"}};
    auto range = request.header("Range");
    if (range && range->rfind("bytes=", 0) == 0 &&
        request.header("If-Range") == std::optional<std::string>("\"v1\"")) {
        std::size_t from = std::stoul(range->substr(6));
        reply.status = 206;
        reply.body = body.substr(from);
        reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                        std::to_string(body.size() - 1) + "/" +
                                                        std::to_string(body.size()));
        return reply;
    }
    reply.body = body;
    reply.trickleDelay = trickle;
    reply.trickleBytes = 512;
    return reply;
}

}  // namespace

TEST_F(SessionTest, DataTaskWithCompletionHandlerDeliversBodyAndResponseOnTheDelegateQueue) {
    server.setReply("/hello", ScriptedReply::text("hello world"));
    std::atomic<bool> done{false};
    std::string body;
    long status = 0;
    bool onQueue = false;
    auto task = session->dataTaskWithRequest(request("/hello"), [&](const std::optional<NSData>& data,
                                                                    const Ref<NSURLResponse>& response,
                                                                    const Ref<NSError>& error) {
        EXPECT_EQ(error, nullptr);
        body = data ? data->toString() : "";
        status = asKind<NSHTTPURLResponse>(response)->statusCode();
        onQueue = NSOperationQueue::currentQueue() == session->delegateQueue();
        done = true;
    });
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->state(), NSURLSessionTaskStateSuspended);
    EXPECT_EQ(server.requestCount(), 0u);
    task->resume();
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_EQ(body, "hello world");
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(task->state(), NSURLSessionTaskStateCompleted);
    EXPECT_EQ(task->countOfBytesReceived(), 11);
    // The completion handler takes the place of the delegate's data and completion callbacks.
    EXPECT_TRUE(recorder->snapshot().empty());
}

TEST_F(SessionTest, DelegateSeesResponseDataAndCompletionInOrder) {
    server.setReply("/doc", ScriptedReply::text(std::string(100000, 'x')));
    auto first = session->dataTaskWithRequest(request("/doc"));
    auto second = session->dataTaskWithURL(url("/doc"));
    EXPECT_EQ(first->taskIdentifier() + 1, second->taskIdentifier());
    first->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    EXPECT_EQ(recorder->snapshot(), (std::vector<std::string>{"response", "data", "complete"}));
    EXPECT_EQ(recorder->body.length(), 100000u);
    EXPECT_EQ(first->countOfBytesExpectedToReceive(), 100000);
    EXPECT_EQ(first->error(), nullptr);
    second->cancel();
}

TEST_F(SessionTest, ErrorStatusIsNotAnError) {
    server.setReply("/missing", ScriptedReply::text("nope", 404));
    session->dataTaskWithRequest(request("/missing"))->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    EXPECT_EQ(recorder->error, nullptr);
}

TEST_F(SessionTest, TransportFailureReachesCompletion) {
    server.setReply("/cut", [] {
        auto r = ScriptedReply::text(std::string(4000, 'a'));
        r.truncateAt = 100;
        return r;
    }());
    auto task = session->dataTaskWithRequest(request("/cut"));
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    ASSERT_NE(recorder->error, nullptr);
    EXPECT_EQ(recorder->error->code(), NSURLErrorNetworkConnectionLost);
    EXPECT_EQ(task->error(), recorder->error);
}

TEST_F(SessionTest, UploadFromDataSendsTheBodyAndReportsProgress) {
    std::string payload(200000, 'p');
    server.setReply("/up", ScriptedReply::text("ok"));
    auto req = NSMutableURLRequest::requestWithURL(url("/up"));
    req->setHTTPMethod("POST");
    auto task = session->uploadTaskWithRequest(req, NSData::fromString(payload));
    EXPECT_EQ(task->countOfBytesExpectedToSend(), 200000);
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].body, payload);
    EXPECT_EQ(recorder->lastSent, 200000);
    EXPECT_EQ(recorder->lastExpectedToSend, 200000);
    EXPECT_EQ(task->countOfBytesSent(), 200000);
    auto events = recorder->snapshot();
    EXPECT_EQ(events.front(), "sent");
    EXPECT_EQ(events.back(), "complete");
}

TEST_F(SessionTest, UploadFromFileAndMissingFile) {
    testsupport::TemporaryDirectory dir;
    {
        std::ofstream out(dir.file("body.bin"), std::ios::binary);
        out << std::string(5000, 'f');
    }
    server.setReply("/file", ScriptedReply::text("ok"));
    auto req = NSMutableURLRequest::requestWithURL(url("/file"));
    req->setHTTPMethod("PUT");
    auto task = session->uploadTaskWithRequest(req, NSURL::fileURLWithPath(dir.file("body.bin")));
    EXPECT_EQ(task->countOfBytesExpectedToSend(), 5000);
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "PUT");
    EXPECT_EQ(server.requests()[0].body, std::string(5000, 'f'));

    auto missing = session->uploadTaskWithRequest(req, NSURL::fileURLWithPath(dir.file("absent")));
    missing->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 2; }));
    ASSERT_NE(recorder->error, nullptr);
    EXPECT_EQ(recorder->error->code(), NSURLErrorFileDoesNotExist);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(SessionTest, StreamedUploadSendsTheStream) {
    server.setReply("/stream", ScriptedReply::text("ok"));
    auto req = NSMutableURLRequest::requestWithURL(url("/stream"));
    req->setHTTPMethod("POST");
    req->setHTTPBodyStream(NSInputStream::inputStreamWithData(NSData::fromString("streamed body")));
    req->setValue("13", "Content-Length");
    auto task = session->uploadTaskWithStreamedRequest(req);
    EXPECT_EQ(task->countOfBytesExpectedToSend(), 13);
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    EXPECT_EQ(recorder->error, nullptr);
    EXPECT_EQ(server.requests().at(0).body, "streamed body");

    auto bare = NSMutableURLRequest::requestWithURL(url("/stream"));
    bare->setHTTPMethod("POST");
    session->uploadTaskWithStreamedRequest(bare)->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 2; }));
    ASSERT_NE(recorder->error, nullptr);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(SessionTest, DownloadGoesThroughATemporaryFileThatIsRemovedAfterwards) {
    std::string content(70000, 'd');
    server.setReply("/file.bin", ScriptedReply::text(content, 200, "application/octet-stream"));
    auto task = session->downloadTaskWithRequest(request("/file.bin"));
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    EXPECT_TRUE(recorder->fileExistedDuringCallback);
    EXPECT_EQ(recorder->downloaded, content);
    EXPECT_EQ(recorder->lastTotalWritten, 70000);
    EXPECT_FALSE(std::filesystem::exists(recorder->location));
    EXPECT_TRUE(detail::isDownloadTemporaryPath(recorder->location));
    auto events = recorder->snapshot();
    EXPECT_EQ(events, (std::vector<std::string>{"write", "finished download", "complete"}));
}

TEST_F(SessionTest, DownloadWithCompletionHandlerGetsTheFile) {
    server.setReply("/small", ScriptedReply::text("tiny"));
    std::atomic<bool> done{false};
    std::string contents;
    session
        ->downloadTaskWithURL(
            url("/small"),
            [&](const Ref<NSURL>& location, const Ref<NSURLResponse>&, const Ref<NSError>& error) {
                EXPECT_EQ(error, nullptr);
                std::ifstream in(location->path());
                contents.assign(std::istreambuf_iterator<char>(in), {});
                done = true;
            })
        ->resume();
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_EQ(contents, "tiny");
}

TEST_F(SessionTest, CancelSendsOnlyTheCancelledCompletion) {
    auto reply = ScriptedReply::text(std::string(200000, 's'));
    reply.trickleDelay = 0.01;
    reply.trickleBytes = 1000;
    server.setReply("/slow", reply);
    recorder->onFirstData = [](const Ref<NSURLSessionTask>& task) { task->cancel(); };
    auto task = session->dataTaskWithRequest(request("/slow"));
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    // Let anything still in flight arrive; none of it may reach the delegate.
    session->delegateQueue()->waitUntilAllOperationsAreFinished();
    auto events = recorder->snapshot();
    EXPECT_EQ(events, (std::vector<std::string>{"response", "data", "complete -999"}));
    EXPECT_EQ(task->state(), NSURLSessionTaskStateCompleted);
    EXPECT_EQ(task->error()->code(), NSURLErrorCancelled);
    task->cancel();  // cancelling again does nothing
    session->delegateQueue()->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(recorder->completions.load(), 1);
}

TEST_F(SessionTest, CancelBeforeResumeCompletesWithoutLoading) {
    auto task = session->dataTaskWithRequest(request("/never"));
    task->cancel();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    task->resume();
    session->delegateQueue()->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(task->state(), NSURLSessionTaskStateCompleted);
}

TEST_F(SessionTest, SuspendedTaskHoldsItsCallbacksUntilResumed) {
    server.setReply("/held", ScriptedReply::text("held body"));
    auto task = session->dataTaskWithRequest(request("/held"));
    task->resume();
    task->suspend();
    EXPECT_EQ(task->state(), NSURLSessionTaskStateSuspended);
    ASSERT_TRUE(server.waitForRequests(1, 5));
    ASSERT_TRUE(waitFor([] { return detail::URLTransport::shared().activeTransfers() == 0; }));
    session->delegateQueue()->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(recorder->snapshot().empty());
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    EXPECT_EQ(recorder->snapshot(), (std::vector<std::string>{"response", "data", "complete"}));
    EXPECT_EQ(recorder->body.toString(), "held body");
}

TEST_F(SessionTest, StateChangesAreObservable) {
    server.setReply("/kvo", ScriptedReply::text("x"));
    auto task = session->dataTaskWithRequest(request("/kvo"));
    std::mutex mutex;
    std::vector<long> states;
    auto token = KVO::observe(*task, "state", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  std::lock_guard lock(mutex);
                                  states.push_back(change[NSKeyValueChangeNewKey].integerValue());
                              });
    task->resume();
    task->suspend();
    task->suspend();  // already suspended: no change
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(states, (std::vector<long>{0, 1, 0, 3}));
}

TEST_F(SessionTest, HooksWrapResumeAndSuspendInInstallationOrder) {
    std::vector<std::string> calls;
    NSURLSessionTask::addResumeHook(
        [&](const Ref<NSURLSessionTask>& task, const std::function<void()>& proceed) {
            calls.push_back("outer before " + std::to_string(task->state()));
            proceed();
            calls.push_back("outer after " + std::to_string(task->state()));
        });
    NSURLSessionTask::addResumeHook([&](const Ref<NSURLSessionTask>&, const std::function<void()>& proceed) {
        calls.push_back("inner");
        proceed();
    });
    NSURLSessionTask::addSuspendHook(
        [&](const Ref<NSURLSessionTask>&, const std::function<void()>&) { calls.push_back("swallowed"); });
    server.setReply("/hook", ScriptedReply::text("x"));
    auto task = session->dataTaskWithRequest(request("/hook"));
    task->resume();
    task->suspend();
    NSURLSessionTask::removeAllHooks();
    EXPECT_EQ(calls, (std::vector<std::string>{"outer before 1", "inner", "outer after 0", "swallowed"}));
    EXPECT_EQ(task->state(), NSURLSessionTaskStateRunning);
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
}

TEST_F(SessionTest, RedirectCanBeStoppedByTheDelegate) {
    server.setReply("/from", ScriptedReply::redirect(302, "/to"));
    server.setReply("/to", ScriptedReply::text("arrived"));
    auto followed = session->dataTaskWithRequest(request("/from"));
    followed->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    EXPECT_EQ(recorder->body.toString(), "arrived");
    EXPECT_EQ(followed->currentRequest()->URL()->path(), "/to");
    EXPECT_EQ(followed->originalRequest()->URL()->path(), "/from");

    recorder->stopRedirects = true;
    recorder->body = NSData();
    auto stopped = session->dataTaskWithRequest(request("/from"));
    stopped->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 2; }));
    EXPECT_EQ(asKind<NSHTTPURLResponse>(stopped->response())->statusCode(), 302);
}

TEST_F(SessionTest, ConfigurationHeadersAndTimeoutApply) {
    auto configuration = NSURLSessionConfiguration::defaultSessionConfiguration();
    configuration->setHTTPAdditionalHeaders(Dictionary{{"X-Session", "yes"}, {"X-Override", "session"}});
    configuration->setTimeoutIntervalForRequest(7);
    auto own = NSURLSession::sessionWithConfiguration(configuration);
    configuration->setHTTPAdditionalHeaders(Dictionary{});  // the session keeps its own copy
    server.setReply("/h", ScriptedReply::text("x"));
    auto req = NSMutableURLRequest::requestWithURL(url("/h"));
    req->setValue("request", "X-Override");
    std::atomic<bool> done{false};
    auto task = own->dataTaskWithRequest(req, [&](auto&, auto&, auto&) { done = true; });
    EXPECT_EQ(task->currentRequest()->timeoutInterval(), 7);
    task->resume();
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    auto recorded = server.requests().at(0);
    EXPECT_EQ(recorded.header("X-Session"), std::optional<std::string>("yes"));
    EXPECT_EQ(recorded.header("X-Override"), std::optional<std::string>("request"));
    own->finishTasksAndInvalidate();
}

TEST(SessionConfigurationTest, KindsArchiveAndCopy) {
    auto background = NSURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("bg.id");
    EXPECT_EQ(background->identifier(), std::optional<std::string>("bg.id"));
    EXPECT_FALSE(NSURLSessionConfiguration::defaultSessionConfiguration()->identifier());
    EXPECT_TRUE(NSURLSessionConfiguration::ephemeralSessionConfiguration()->isEphemeral());
    background->setTimeoutIntervalForRequest(12);
    background->setHTTPAdditionalHeaders(Dictionary{{"A", "b"}});
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(background), true, nullptr);
    ASSERT_TRUE(data);
    auto back = NSKeyedUnarchiver::unarchivedObjectOfClass("NSURLSessionConfiguration", *data, nullptr)
                    .objectAs<NSURLSessionConfiguration>();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->isEqual(*background));
    EXPECT_TRUE(background->copy()->isEqual(*background));
    back->setTimeoutIntervalForRequest(1);
    EXPECT_FALSE(back->isEqual(*background));
}

TEST_F(SessionTest, InvalidationWaitsForTasksAndRefusesNewOnes) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 0.2;
    server.setReply("/late", reply);
    auto task = session->dataTaskWithRequest(request("/late"));
    task->resume();
    session->finishTasksAndInvalidate();
    EXPECT_EQ(session->dataTaskWithRequest(request("/late")), nullptr);
    ASSERT_TRUE(waitFor([&] { return recorder->invalid.load(); }));
    EXPECT_EQ(recorder->snapshot(), (std::vector<std::string>{"response", "data", "complete", "invalid"}));
    EXPECT_EQ(session->delegate(), nullptr);
}

TEST_F(SessionTest, InvalidateAndCancelCancelsEveryTask) {
    auto reply = ScriptedReply::text("never");
    reply.delayBeforeHeaders = 5;
    server.setReply("/stall", reply);
    auto a = session->dataTaskWithRequest(request("/stall"));
    auto b = session->downloadTaskWithRequest(request("/stall"));
    a->resume();
    b->resume();
    session->invalidateAndCancel();
    ASSERT_TRUE(waitFor([&] { return recorder->invalid.load(); }));
    EXPECT_EQ(recorder->snapshot(), (std::vector<std::string>{"complete -999", "complete -999", "invalid"}));
}

TEST_F(SessionTest, GetTasksSortsOutstandingTasksByKind) {
    auto data = session->dataTaskWithRequest(request("/a"));
    auto upload = session->uploadTaskWithRequest(request("/b"), NSData::fromString("x"));
    auto download = session->downloadTaskWithRequest(request("/c"));
    std::atomic<bool> done{false};
    std::vector<unsigned long> ids;
    session->getTasksWithCompletionHandler([&](const auto& d, const auto& u, const auto& dl) {
        for (auto& t : d) ids.push_back(t->taskIdentifier());
        for (auto& t : u) ids.push_back(t->taskIdentifier());
        for (auto& t : dl) ids.push_back(t->taskIdentifier());
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_EQ(ids, (std::vector<unsigned long>{data->taskIdentifier(), upload->taskIdentifier(),
                                               download->taskIdentifier()}));
}

TEST_F(SessionTest, CancelledDownloadResumesWithARangeRequest) {
    std::string content;
    for (int i = 0; i < 40000; ++i) content += static_cast<char>('a' + i % 26);
    server.setHandler("/big.bin",
                      [&](const testsupport::RecordedRequest& r) { return rangedReply(r, content, 0.005); });
    std::optional<NSData> resumeData;
    std::atomic<bool> produced{false};
    auto task = session->downloadTaskWithRequest(request("/big.bin"));
    recorder->onFirstData = [&](const Ref<NSURLSessionTask>& t) {
        asKind<NSURLSessionDownloadTask>(t)->cancelByProducingResumeData(
            [&](const std::optional<NSData>& data) {
                resumeData = data;
                produced = true;
            });
    };
    task->resume();
    ASSERT_TRUE(waitFor([&] { return produced.load() && recorder->completions.load() == 1; }));
    ASSERT_TRUE(resumeData);
    auto info = detail::decodeDownloadResumeInfo(*resumeData);
    ASSERT_TRUE(info);
    EXPECT_GT(info->bytesReceived, 0);
    EXPECT_LT(info->bytesReceived, 40000);
    EXPECT_TRUE(std::filesystem::exists(info->localPath));
    ASSERT_NE(recorder->error, nullptr);
    EXPECT_TRUE(recorder->error->userInfo()[NSURLSessionDownloadTaskResumeData].isData());

    recorder->onFirstData = nullptr;
    auto resumed = session->downloadTaskWithResumeData(*resumeData);
    EXPECT_EQ(resumed->originalRequest()->URL()->path(), "/big.bin");
    resumed->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 2; }));
    EXPECT_EQ(recorder->error, nullptr);
    EXPECT_EQ(recorder->downloaded, content);
    EXPECT_EQ(recorder->resumeOffset, info->bytesReceived);
    EXPECT_EQ(recorder->resumeExpected, 40000);
    auto last = server.requests().back();
    EXPECT_EQ(last.header("Range"),
              std::optional<std::string>("bytes=" + std::to_string(info->bytesReceived) + "-"));
    EXPECT_EQ(last.header("If-Range"), std::optional<std::string>("\"v1\""));
}

TEST_F(SessionTest, ResumeFallsBackToAFullDownloadWhenTheServerIgnoresTheRange) {
    testsupport::TemporaryDirectory dir;
    detail::DownloadResumeInfo info;
    info.URL = server.url("/plain");
    info.bytesReceived = 3;
    info.localPath = detail::makeDownloadTemporaryPath();
    info.entityTag = "\"old\"";
    {
        std::ofstream out(info.localPath);
        out << "XYZ";
    }
    server.setReply("/plain", ScriptedReply::text("fresh content"));
    auto task = session->downloadTaskWithResumeData(*detail::encodeDownloadResumeInfo(info));
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    EXPECT_EQ(recorder->downloaded, "fresh content");
    EXPECT_EQ(recorder->resumeOffset, 0);
}

TEST_F(SessionTest, UnreadableResumeDataFailsTheTaskWithoutLoading) {
    auto task = session->downloadTaskWithResumeData(NSData::fromString("not resume data"));
    ASSERT_NE(task, nullptr);
    task->resume();
    ASSERT_TRUE(waitFor([&] { return recorder->completions.load() == 1; }));
    ASSERT_NE(recorder->error, nullptr);
    EXPECT_EQ(recorder->error->code(), NSURLErrorBadURL);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(SessionResumeDataTest, HostilePathsAndMutationsAreRefused) {
    detail::DownloadResumeInfo info;
    info.URL = "http://127.0.0.1:1/file";
    info.bytesReceived = 10;
    info.localPath = detail::makeDownloadTemporaryPath();
    info.lastModified = "Mon, 01 Jan 2024 00:00:00 GMT";
    auto valid = detail::encodeDownloadResumeInfo(info);
    ASSERT_TRUE(valid);
    auto decoded = detail::decodeDownloadResumeInfo(*valid);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->localPath, info.localPath);

    for (const std::string& path :
         std::vector<std::string>{std::string("/etc/passwd"), info.localPath + "/../../etc/passwd",
                                  NSTemporaryDirectory() + "/../URLSessionDownload_AB.tmp", std::string(""),
                                  NSTemporaryDirectory() + "/other.tmp"}) {
        auto hostile = info;
        hostile.localPath = path;
        std::string reason;
        EXPECT_FALSE(detail::decodeDownloadResumeInfo(*detail::encodeDownloadResumeInfo(hostile), &reason))
            << path;
        EXPECT_FALSE(reason.empty());
    }
    auto noValidator = info;
    noValidator.lastModified.reset();
    EXPECT_FALSE(detail::decodeDownloadResumeInfo(*detail::encodeDownloadResumeInfo(noValidator)));
    auto badURL = info;
    badURL.URL = "file:///etc/passwd";
    EXPECT_FALSE(detail::decodeDownloadResumeInfo(*detail::encodeDownloadResumeInfo(badURL)));
    auto negative = info;
    negative.bytesReceived = -5;
    EXPECT_FALSE(detail::decodeDownloadResumeInfo(*detail::encodeDownloadResumeInfo(negative)));

    std::string text = valid->toString();
    for (unsigned seed = 0; seed < 500; ++seed) {
        auto mutated = testsupport::mutate(text, seed);
        auto result = detail::decodeDownloadResumeInfo(NSData::fromString(mutated));
        if (result) {
            EXPECT_TRUE(detail::isDownloadTemporaryPath(result->localPath));
            EXPECT_GE(result->bytesReceived, 0);
        }
        for (std::size_t cut : {std::size_t(0), text.size() / 3, text.size() - 12}) {
            EXPECT_FALSE(detail::decodeDownloadResumeInfo(NSData::fromString(text.substr(0, cut))));
        }
    }
}

TEST_F(SessionTest, ManyTasksFromManyThreads) {
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return ScriptedReply::text(r.path); });
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                std::string path = "/p" + std::to_string(t) + "_" + std::to_string(i);
                auto task =
                    session->dataTaskWithRequest(request(path), [&, path](const std::optional<NSData>& data,
                                                                          auto&, const Ref<NSError>& error) {
                        if (!error && data && data->toString() == path) ++good;
                    });
                task->resume();
                if (i % 3 == 0) {
                    task->suspend();
                    task->resume();
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(waitFor([&] { return good.load() == 40; }, 20));
}

TEST(SessionProgressTest, CountsFractionAndHandlers) {
    auto progress = NSProgress::progressWithTotalUnitCount(0);
    EXPECT_EQ(progress->fractionCompleted(), 0);
    int fractionChanges = 0;
    auto token = KVO::observe(*progress, "fractionCompleted", 0, [&](auto&, auto&) { ++fractionChanges; });
    progress->setTotalUnitCount(200);
    progress->setCompletedUnitCount(50);
    EXPECT_DOUBLE_EQ(progress->fractionCompleted(), 0.25);
    EXPECT_EQ(fractionChanges, 2);
    int cancels = 0, pauses = 0;
    progress->setCancellationHandler([&] { ++cancels; });
    progress->setPausingHandler([&] { ++pauses; });
    progress->pause();
    progress->pause();
    progress->cancel();
    progress->cancel();
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(cancels, 1);
    int late = 0;
    progress->setCancellationHandler([&] { ++late; });
    EXPECT_EQ(late, 1);
}

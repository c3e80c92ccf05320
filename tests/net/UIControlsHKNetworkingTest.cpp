// Progress view, refresh control, activity indicator and alert view bindings.
#include <gtest/gtest.h>

#include <atomic>

#include "net/HKHTTPRequestOperation.h"
#include "net/HKURLSessionManager.h"
#include "net/UIActivityIndicatorView+HKNetworking.h"
#include "net/UIAlertView+HKNetworking.h"
#include "net/UIProgressView+HKNetworking.h"
#include "net/UIRefreshControl+HKNetworking.h"
#include "tests/net/NetTestSupport.h"
#include "uikit/UIAlertTestDriver.h"

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

class ControlBindingTest : public nettest::NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        UIAlertTestDriver::reset();
        manager = make<HKURLSessionManager>();
        manager->setResponseSerializer(HKHTTPResponseSerializer::serializer());
    }
    void TearDown() override {
        retire(manager);
        UIAlertTestDriver::reset();
        NetTest::TearDown();
    }
    Ref<NSURLRequest> request(const std::string& path) {
        return NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(path)));
    }
    // A task of the manager whose completion sets the flag.
    Ref<NSURLSessionDataTask> task(const std::string& path, std::atomic<bool>& done) {
        return manager->dataTaskWithRequest(request(path), [&done](auto&, auto&, auto&) { done = true; });
    }
    bool wait(const std::function<bool()>& condition) {
        return testsupport::pumpMainRunLoopUntil(condition, 10);
    }

    Ref<HKURLSessionManager> manager;
};

// An alert delegate that counts presses.
class AlertDelegate : public UIAlertViewDelegate {
  public:
    int clicks = 0;
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>&, long) override { ++clicks; }
};

}  // namespace

// ---- progress view ---------------------------------------------------------------------------------------
TEST_F(ControlBindingTest, ProgressFollowsADownloadAndStopsObservingAtCompletion) {
    server.setReply("/big", ScriptedReply::text(std::string(300000, 'b'), 200, "application/octet-stream"));
    auto view = make<UIProgressView>();
    std::atomic<bool> done{false};
    auto t = task("/big", done);
    UIProgressView_HKNetworking::setProgressWithDownloadProgressOfTask(view, t, true);
    EXPECT_TRUE(UIProgressView_HKNetworking::hk_downloadProgressAnimated(view));
    EXPECT_FALSE(UIProgressView_HKNetworking::hk_uploadProgressAnimated(view));
    EXPECT_TRUE(KVO::hasObservers(*t, "countOfBytesReceived"));
    t->resume();
    ASSERT_TRUE(wait([&] { return done.load(); }));
    testsupport::drainMainRunLoop();
    EXPECT_FLOAT_EQ(view->progress(), 1.0f);
    EXPECT_TRUE(view->lastChangeAnimated());
    EXPECT_FALSE(KVO::hasObservers(*t, "countOfBytesReceived"));
    EXPECT_FALSE(KVO::hasObservers(*t, "state"));
}

TEST_F(ControlBindingTest, ProgressFollowsAnUpload) {
    server.setReply("/up", ScriptedReply::text("ok"));
    auto req = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/up")));
    req->setHTTPMethod("POST");
    std::atomic<bool> done{false};
    auto t = manager->uploadTaskWithRequestFromData(req, NSData::fromString(std::string(50000, 'u')), nullptr,
                                                    [&](auto&, auto&, auto&) { done = true; });
    auto view = make<UIProgressView>();
    UIProgressView_HKNetworking::setProgressWithUploadProgressOfTask(view, t, false);
    t->resume();
    ASSERT_TRUE(wait([&] { return done.load(); }));
    testsupport::drainMainRunLoop();
    EXPECT_FLOAT_EQ(view->progress(), 1.0f);
    EXPECT_FALSE(view->lastChangeAnimated());
}

TEST_F(ControlBindingTest, UnknownSizeNeverMovesTheBar) {
    auto reply = ScriptedReply::text(std::string(5000, 'c'));
    reply.chunked = true;
    server.setReply("/chunked", reply);
    auto view = make<UIProgressView>();
    std::atomic<bool> done{false};
    auto t = task("/chunked", done);
    UIProgressView_HKNetworking::setProgressWithDownloadProgressOfTask(view, t, false);
    t->resume();
    ASSERT_TRUE(wait([&] { return done.load(); }));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(t->countOfBytesExpectedToReceive(), NSURLSessionTransferSizeUnknown);
    EXPECT_FLOAT_EQ(view->progress(), 0.0f);
}

TEST_F(ControlBindingTest, OperationProgressChainsEarlierBindings) {
    server.setReply("/op", ScriptedReply::text(std::string(40000, 'o')));
    auto operation = make<HKHTTPRequestOperation>(request("/op"));
    auto first = make<UIProgressView>();
    auto second = make<UIProgressView>();
    UIProgressView_HKNetworking::setProgressWithDownloadProgressOfOperation(first, operation, false);
    UIProgressView_HKNetworking::setProgressWithDownloadProgressOfOperation(second, operation, true);
    bool finished = false;
    operation->setCompletionBlockWithSuccess([&](auto&, auto&) { finished = true; },
                                             [&](auto&, auto&) { finished = true; });
    operation->start();
    ASSERT_TRUE(wait([&] { return finished; }));
    testsupport::drainMainRunLoop();
    EXPECT_FLOAT_EQ(first->progress(), 1.0f);
    EXPECT_FLOAT_EQ(second->progress(), 1.0f);
    EXPECT_TRUE(second->lastChangeAnimated());
}

// ---- refresh control and activity indicator ---------------------------------------------------------------
TEST_F(ControlBindingTest, RefreshControlFollowsARunningTask) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 0.2;
    server.setReply("/late", reply);
    auto control = make<UIRefreshControl>();
    std::atomic<bool> done{false};
    auto t = task("/late", done);
    t->resume();
    UIRefreshControl_HKNetworking::setRefreshingWithStateOfTask(control, t);
    EXPECT_TRUE(control->isRefreshing());
    ASSERT_TRUE(wait([&] { return done.load() && !control->isRefreshing(); }));
}

TEST_F(ControlBindingTest, SuspendedTaskEndsRefreshingAndIsNotFollowed) {
    auto control = make<UIRefreshControl>();
    control->beginRefreshing();
    std::atomic<bool> done{false};
    auto t = task("/x", done);
    UIRefreshControl_HKNetworking::setRefreshingWithStateOfTask(control, t);
    EXPECT_FALSE(control->isRefreshing());
    server.setReply("/x", ScriptedReply::text("x"));
    t->resume();
    testsupport::drainMainRunLoop();
    EXPECT_FALSE(control->isRefreshing());
    ASSERT_TRUE(wait([&] { return done.load(); }));
}

TEST_F(ControlBindingTest, ActivityIndicatorRestartsWhenASuspendedTaskResumes) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 0.3;
    server.setReply("/late", reply);
    auto indicator = make<UIActivityIndicatorView>();
    std::atomic<bool> done{false};
    auto t = task("/late", done);
    t->resume();
    t->suspend();
    UIActivityIndicatorView_HKNetworking::setAnimatingWithStateOfTask(indicator, t);
    EXPECT_FALSE(indicator->isAnimating());
    t->resume();
    ASSERT_TRUE(wait([&] { return indicator->isAnimating(); }));
    ASSERT_TRUE(wait([&] { return done.load() && !indicator->isAnimating(); }));
}

TEST_F(ControlBindingTest, CompletedTaskLeavesTheIndicatorAlone) {
    server.setReply("/x", ScriptedReply::text("x"));
    std::atomic<bool> done{false};
    auto t = task("/x", done);
    t->resume();
    ASSERT_TRUE(wait([&] { return done.load(); }));
    auto indicator = make<UIActivityIndicatorView>();
    indicator->startAnimating();
    UIActivityIndicatorView_HKNetworking::setAnimatingWithStateOfTask(indicator, t);
    EXPECT_TRUE(indicator->isAnimating());
    auto control = make<UIRefreshControl>();
    control->beginRefreshing();
    UIRefreshControl_HKNetworking::setRefreshingWithStateOfTask(control, t);
    EXPECT_FALSE(control->isRefreshing());
}

TEST_F(ControlBindingTest, RebindingAndNilDropTheOldObservation) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 0.2;
    server.setReply("/late", reply);
    auto indicator = make<UIActivityIndicatorView>();
    std::atomic<bool> done{false};
    auto t = task("/late", done);
    t->resume();
    UIActivityIndicatorView_HKNetworking::setAnimatingWithStateOfTask(indicator, t);
    EXPECT_TRUE(indicator->isAnimating());
    UIActivityIndicatorView_HKNetworking::setAnimatingWithStateOfTask(indicator, nullptr);
    ASSERT_TRUE(wait([&] { return done.load(); }));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_TRUE(indicator->isAnimating());  // the completion was no longer followed
}

TEST_F(ControlBindingTest, OperationBindings) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 0.2;
    server.setReply("/late", reply);
    auto operation = make<HKHTTPRequestOperation>(request("/late"));
    auto control = make<UIRefreshControl>();
    auto indicator = make<UIActivityIndicatorView>();
    UIRefreshControl_HKNetworking::setRefreshingWithStateOfOperation(control, operation);
    UIActivityIndicatorView_HKNetworking::setAnimatingWithStateOfOperation(indicator, operation);
    EXPECT_FALSE(control->isRefreshing());
    bool finished = false;
    operation->setCompletionBlockWithSuccess([&](auto&, auto&) { finished = true; },
                                             [&](auto&, auto&) { finished = true; });
    operation->start();
    ASSERT_TRUE(wait([&] { return control->isRefreshing() && indicator->isAnimating(); }));
    ASSERT_TRUE(wait([&] { return finished && !control->isRefreshing() && !indicator->isAnimating(); }));

    // A finished operation changes nothing and is not followed.
    control->beginRefreshing();
    UIRefreshControl_HKNetworking::setRefreshingWithStateOfOperation(control, operation);
    EXPECT_TRUE(control->isRefreshing());
}

// ---- alerts
// ------------------------------------------------------------------------------------------------
TEST_F(ControlBindingTest, AlertShowsAFailedTasksErrorOnce) {
    auto cut = ScriptedReply::text(std::string(1000, 'x'));
    cut.truncateAt = 10;
    server.setReply("/cut", cut);
    auto delegate = std::make_shared<AlertDelegate>();
    std::atomic<bool> done{false};
    auto t = task("/cut", done);
    UIAlertView_HKNetworking::showAlertViewForTaskWithErrorOnCompletion(t, delegate, std::string("OK"),
                                                                        {"Retry"});
    t->resume();
    ASSERT_TRUE(wait([&] { return UIAlertTestDriver::frontmostAlert().has_value(); }));
    auto alert = *UIAlertTestDriver::frontmostAlert();
    EXPECT_EQ(alert.buttonTitles, (std::vector<std::string>{"OK", "Retry"}));
    EXPECT_EQ(alert.title, std::optional<std::string>("The network connection was lost."));
    UIAlertTestDriver::tapAlertButton("Retry");
    EXPECT_EQ(delegate->clicks, 1);
    EXPECT_EQ(UIAlertTestDriver::shownAlerts().size(), 1u);
}

TEST_F(ControlBindingTest, SuccessfulTaskShowsNoAlert) {
    server.setReply("/ok", ScriptedReply::text("fine"));
    std::atomic<bool> done{false};
    auto t = task("/ok", done);
    UIAlertView_HKNetworking::showAlertViewForTaskWithErrorOnCompletion(t, nullptr);
    t->resume();
    ASSERT_TRUE(wait([&] { return done.load(); }));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
}

TEST_F(ControlBindingTest, AlertForAFailedOperation) {
    auto cut = ScriptedReply::text(std::string(1000, 'x'));
    cut.truncateAt = 10;
    server.setReply("/gone", cut);
    auto operation = make<HKHTTPRequestOperation>(request("/gone"));
    UIAlertView_HKNetworking::showAlertViewForRequestOperationWithErrorOnCompletion(operation, nullptr);
    operation->start();
    ASSERT_TRUE(wait([&] { return UIAlertTestDriver::frontmostAlert().has_value(); }));
    auto alert = *UIAlertTestDriver::frontmostAlert();
    EXPECT_EQ(alert.buttonTitles, (std::vector<std::string>{"Dismiss"}));
}

TEST(AlertTextsTest, TitlesAndMessages) {
    using UIAlertView_HKNetworking::HKFailureAlertTexts;
    auto bare = NSError::errorWithDomain("my.domain", 7);
    EXPECT_EQ(HKFailureAlertTexts(bare),
              std::make_pair(std::string("Error"), std::string("my.domain Error: 7")));
    auto described = NSError::errorWithDomain("d", 1, Dictionary{{NSLocalizedDescriptionKey, "Broken"}});
    EXPECT_EQ(HKFailureAlertTexts(described), std::make_pair(std::string("Error"), std::string("Broken")));
    auto full = NSError::errorWithDomain("d", 1,
                                         Dictionary{{NSLocalizedDescriptionKey, "Broken"},
                                                    {NSLocalizedFailureReasonErrorKey, "Because"},
                                                    {NSLocalizedRecoverySuggestionErrorKey, "Try again"}});
    EXPECT_EQ(HKFailureAlertTexts(full), std::make_pair(std::string("Broken"), std::string("Try again")));
    auto reason = NSError::errorWithDomain(
        "d", 1,
        Dictionary{{NSLocalizedDescriptionKey, "Broken"}, {NSLocalizedFailureReasonErrorKey, "Because"}});
    EXPECT_EQ(HKFailureAlertTexts(reason).second, "Because");
    // Hostile user info: values of the wrong kind are not texts.
    auto odd = NSError::errorWithDomain("d", 2, Dictionary{{NSLocalizedDescriptionKey, 5}});
    EXPECT_EQ(HKFailureAlertTexts(odd).second, "d Error: 2");
}

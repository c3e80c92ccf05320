// The bridge's open-API request: parameters in the query of a GET or the form body of a POST, the
// aid added when known, the callbacks on the making thread's run loop, and failures.

#include <gtest/gtest.h>

#include "foundation/NSThread.h"
#include "sdk/weibo/bridge/WBHttpRequest.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"

namespace {

class RecordingDelegate : public NSObject, public WBHttpRequestDelegate {
  public:
    explicit RecordingDelegate(bool wantsData = true, bool wantsText = true, bool wantsFailure = true)
        : wantsData_(wantsData), wantsText_(wantsText), wantsFailure_(wantsFailure) {}
    void requestDidFailWithError(const Ref<WBHttpRequest>& request, const Ref<NSError>& e) override {
        calls.push_back("fail");
        error = e;
        tag = request->tag();
    }
    bool implementsDidFailWithError() const override { return wantsFailure_; }
    void requestDidFinishLoadingWithResult(const Ref<WBHttpRequest>& request, const std::string& r) override {
        calls.push_back("text");
        result = r;
        tag = request->tag();
        onMainThread = NSThread::isMainThread();
    }
    bool implementsDidFinishLoadingWithResult() const override { return wantsText_; }
    void requestDidFinishLoadingWithDataResult(const Ref<WBHttpRequest>&, const NSData& d) override {
        calls.push_back("data");
        data = d.toString();
    }
    bool implementsDidFinishLoadingWithDataResult() const override { return wantsData_; }

    std::vector<std::string> calls;
    std::string result, data;
    Ref<NSError> error;
    std::optional<std::string> tag;
    bool onMainThread = false;

  private:
    bool wantsData_, wantsText_, wantsFailure_;
};

class WBHttpRequestTest : public ::testing::Test {
  protected:
    void SetUp() override { weibo_testing::resetSDK(); }
    void TearDown() override { weibo_testing::resetSDK(); }
    testsupport::LoopbackHTTPServer server;
};

TEST_F(WBHttpRequestTest, AGETCarriesItsParametersAndTheAidInTheQuery) {
    server.setReply("/oauth2/getaid.json", testsupport::ScriptedReply::text("{\"aid\":\"x\"}"));
    WeiboSDK::setAidProviders(nullptr, [] { return std::optional<std::string>("the aid"); });
    auto delegate = make<RecordingDelegate>();
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("appkey", "123");
    params.setObject("mfp", "01a+b/c=\r\n");
    auto request = WBHttpRequest::requestWithURL(server.url("/oauth2/getaid.json"), "GET", params, delegate,
                                                 std::string("T"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->params()["aid"], Value("the aid"));
    EXPECT_FALSE(params.containsKey("aid"));  // the caller's dictionary is not touched
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return delegate->calls.size() == 2; }, 10));
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"data", "text"}));
    EXPECT_EQ(delegate->result, "{\"aid\":\"x\"}");
    EXPECT_EQ(delegate->data, "{\"aid\":\"x\"}");
    EXPECT_EQ(delegate->tag, "T");
    EXPECT_TRUE(delegate->onMainThread);
    auto received = server.requests();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "GET");
    EXPECT_EQ(received[0].query, "appkey=123&mfp=01a%2Bb%2Fc%3D%0D%0A&aid=the%20aid");
}

TEST_F(WBHttpRequestTest, APOSTSendsAForm) {
    server.setReply("/2/x.json", testsupport::ScriptedReply::text("done"));
    auto delegate = make<RecordingDelegate>(false, true, true);
    WBHttpRequest::requestWithURL(server.url("/2/x.json"), "POST", Dictionary{{"a", "b c"}}, delegate,
                                  std::nullopt);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !delegate->calls.empty(); }, 10));
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"text"}));
    auto received = server.requests();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].body, "a=b%20c");
    EXPECT_EQ(received[0].header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(WBHttpRequestTest, ATransportFailureReachesTheDelegateOnlyWhenItListens) {
    int port = server.port();
    server.stop();
    auto delegate = make<RecordingDelegate>();
    WBHttpRequest::requestWithURL("http://127.0.0.1:" + std::to_string(port) + "/x", "GET", Dictionary(),
                                  delegate, std::string("F"));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !delegate->calls.empty(); }, 10));
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"fail"}));
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->domain(), NSURLErrorDomain);

    auto silent = make<RecordingDelegate>(true, true, false);
    WBHttpRequest::requestWithURL("http://127.0.0.1:" + std::to_string(port) + "/x", "GET", Dictionary(),
                                  silent, std::nullopt);
    testsupport::pumpMainRunLoop(0.3);
    EXPECT_TRUE(silent->calls.empty());
}

TEST_F(WBHttpRequestTest, AnUnloadableURLFailsOnTheNextTurn) {
    auto delegate = make<RecordingDelegate>();
    auto request =
        WBHttpRequest::requestWithURL("ftp://example/x", "GET", Dictionary(), delegate, std::nullopt);
    EXPECT_TRUE(delegate->calls.empty());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !delegate->calls.empty(); }, 5));
    EXPECT_EQ(delegate->error->code(), NSURLErrorBadURL);
}

TEST_F(WBHttpRequestTest, AGoneDelegateHearsNothingAndDisconnectStopsTheCallbacks) {
    server.setReply("/slow", [] {
        auto reply = testsupport::ScriptedReply::text("late");
        reply.delayBeforeHeaders = 0.2;
        return reply;
    }());
    {
        auto delegate = make<RecordingDelegate>();
        WBHttpRequest::requestWithURL(server.url("/slow"), "GET", Dictionary(), delegate, std::nullopt);
    }
    auto delegate = make<RecordingDelegate>();
    auto request =
        WBHttpRequest::requestWithURL(server.url("/slow"), "GET", Dictionary(), delegate, std::nullopt);
    request->disconnect();
    testsupport::pumpMainRunLoop(0.5);
    EXPECT_TRUE(delegate->calls.empty());
}

TEST_F(WBHttpRequestTest, TheOpenAPIRootIsASetting) {
    EXPECT_EQ(WeiboSDK::openAPIRoot(), WeiboSDK::kDefaultOpenAPIRoot);
    WeiboSDK::setOpenAPIRoot(std::string("http://127.0.0.1:9/"));
    EXPECT_EQ(WeiboSDK::openAPIRoot(), "http://127.0.0.1:9");
    WeiboSDK::setOpenAPIRoot(std::nullopt);
    EXPECT_EQ(WeiboSDK::openAPIRoot(), WeiboSDK::kDefaultOpenAPIRoot);
}

}  // namespace

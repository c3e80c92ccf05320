#include "net/UIWebView+HKNetworking.h"

#include <gtest/gtest.h>

#include "tests/net/NetTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::ScriptedReply;

class WebDelegate : public UIWebViewDelegate {
  public:
    std::vector<std::string> events;
    void webViewDidStartLoad(UIWebView&) override { events.push_back("start"); }
    void webViewDidFinishLoad(UIWebView&) override { events.push_back("finish"); }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { events.push_back("fail"); }
};

class WebBindingTest : public nettest::NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        webView = make<UIWebView>();
        delegate = std::make_shared<WebDelegate>();
        webView->setDelegate(delegate);
    }
    Ref<NSURLRequest> request(const std::string& path) {
        return NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(path)));
    }

    Ref<UIWebView> webView;
    std::shared_ptr<WebDelegate> delegate;
};

}  // namespace

TEST_F(WebBindingTest, LoadsThroughAnOperationAndRewritesTheBody) {
    server.setReply("/page", ScriptedReply::text("<p>hello</p>", 200, "text/html; charset=utf-8"));
    std::int64_t lastTotal = 0;
    bool succeeded = false;
    UIWebView_HKNetworking::loadRequest(
        webView, request("/page"),
        [&](std::uint64_t, std::int64_t total, std::int64_t) { lastTotal = total; },
        [&](const Ref<NSHTTPURLResponse>& response, const std::string& html) {
            succeeded = true;
            EXPECT_EQ(response->statusCode(), 200);
            return html + "<p>added</p>";
        },
        nullptr);
    ASSERT_EQ(delegate->events, std::vector<std::string>{"start"});
    ASSERT_NE(UIWebView_HKNetworking::hk_HTTPRequestOperation(webView), nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return webView->finishedLoadCount() == 1; }));
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(webView->shownHTML(), "<p>hello</p><p>added</p>");
    EXPECT_EQ(webView->shownMIMEType(), std::optional<std::string>("text/html"));
    EXPECT_EQ(lastTotal, 12);
    EXPECT_EQ(delegate->events.at(1), "finish");
}

TEST_F(WebBindingTest, BaseURLIsTheResponsesAfterRedirects) {
    server.setReply("/start", ScriptedReply::redirect(302, "/docs/final.html"));
    server.setReply("/docs/final.html", ScriptedReply::text("<a href='x'>x</a>", 200, "text/html"));
    UIWebView_HKNetworking::loadRequest(webView, request("/start"), nullptr, nullptr, nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return webView->finishedLoadCount() == 1; }));
    EXPECT_EQ(webView->baseURL()->absoluteString(), server.url("/docs/final.html"));
}

TEST_F(WebBindingTest, UnknownEncodingsAreTreatedAsUTF8AndLatin1IsKept) {
    server.setReply("/odd", ScriptedReply::text("caf\xc3\xa9", 200, "text/html; charset=x-no-such-charset"));
    std::string seen;
    UIWebView_HKNetworking::loadRequest(
        webView, request("/odd"), nullptr,
        [&](auto&, const std::string& html) {
            seen = html;
            return html;
        },
        nullptr);
    // The page shown too (its process reads it on a later turn), so the next load does not cancel it.
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] { return !seen.empty() && webView->finishedLoadCount() >= 1; }));
    EXPECT_EQ(seen, "caf\xc3\xa9");

    server.setReply("/latin", ScriptedReply::text("caf\xe9", 200, "text/html; charset=iso-8859-1"));
    std::string latin;
    NSData shown;
    UIWebView_HKNetworking::loadRequest(
        webView, request("/latin"), nullptr,
        [&](auto&, const std::string& html) {
            latin = html;
            return html;
        },
        nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return webView->finishedLoadCount() >= 2; }));
    EXPECT_EQ(latin, "caf\xc3\xa9");
    EXPECT_EQ(webView->shownData().toString(), "caf\xe9");  // encoded back as it came
}

TEST_F(WebBindingTest, DataFormPassesTheGivenTypeAndFailuresOnlyReachTheBlock) {
    server.setReply("/raw", ScriptedReply::text("plain words", 200, "application/octet-stream"));
    UIWebView_HKNetworking::loadRequest(webView, request("/raw"), std::string("text/plain"),
                                        std::string("utf-8"), nullptr, nullptr, nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return webView->finishedLoadCount() == 1; }));
    EXPECT_EQ(webView->shownMIMEType(), std::optional<std::string>("text/plain"));

    server.setReply("/missing", ScriptedReply::text("no", 404, "text/html"));
    delegate->events.clear();
    Ref<NSError> error;
    UIWebView_HKNetworking::loadRequest(webView, request("/missing"), nullptr, nullptr,
                                        [&](const Ref<NSError>& e) { error = e; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return error != nullptr; }));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(delegate->events, std::vector<std::string>{"start"});
    EXPECT_EQ(webView->finishedLoadCount(), 1);
    EXPECT_EQ(webView->shownHTML(), "plain words");
}

TEST_F(WebBindingTest, ANewLoadCancelsThePrevious) {
    auto slow = ScriptedReply::text("slow", 200, "text/html");
    slow.delayBeforeHeaders = 0.3;
    server.setReply("/slow", slow);
    server.setReply("/fast", ScriptedReply::text("fast", 200, "text/html"));
    Ref<NSError> firstError;
    UIWebView_HKNetworking::loadRequest(webView, request("/slow"), nullptr, nullptr,
                                        [&](const Ref<NSError>& e) { firstError = e; });
    auto first = UIWebView_HKNetworking::hk_HTTPRequestOperation(webView);
    UIWebView_HKNetworking::loadRequest(webView, request("/fast"), nullptr, nullptr, nullptr);
    EXPECT_TRUE(first->isCancelled());
    ASSERT_TRUE(
        testsupport::pumpMainRunLoopUntil([&] { return webView->finishedLoadCount() == 1 && firstError; }));
    EXPECT_EQ(firstError->code(), NSURLErrorCancelled);
    EXPECT_EQ(webView->shownHTML(), "fast");
}

TEST_F(WebBindingTest, MutatedPagesLoadWithoutHarm) {
    std::string page =
        "<html><head><meta charset='utf-8'></head><body>\xe4\xbd\xa0\xe5\xa5\xbd</body></html>";
    for (unsigned seed = 0; seed < 20; ++seed) {
        server.setReply(
            "/m", ScriptedReply::text(testsupport::mutate(page, seed), 200, "text/html; charset=utf-8"));
        bool done = false;
        UIWebView_HKNetworking::loadRequest(
            webView, request("/m"), nullptr,
            [&](auto&, const std::string& html) {
                done = true;
                return html;
            },
            [&](auto&) { done = true; });
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; })) << seed;
    }
}

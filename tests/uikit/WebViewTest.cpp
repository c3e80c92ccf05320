// Web views: loads from a loopback server, strings and data, the delegate's order on later turns,
// refusals, failures, cancellation, history, scripted answers and the page drawn in a window.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/NSString.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

class WebLog : public NSObject, public UIWebViewDelegate {
  public:
    std::vector<std::string> log;
    bool allow = true;
    Ref<NSError> lastError;
    std::optional<bool> webViewShouldStartLoadWithRequest(UIWebView&, const Ref<NSURLRequest>& request,
                                                          UIWebViewNavigationType type) override {
        log.push_back("should " + (request->URL() ? request->URL()->absoluteString() : std::string("-")) +
                      " " + std::to_string(type));
        return allow;
    }
    void webViewDidStartLoad(UIWebView& view) override {
        log.push_back(std::string("start") + (view.isLoading() ? " loading" : ""));
    }
    void webViewDidFinishLoad(UIWebView& view) override {
        log.push_back("finish " + std::to_string(static_cast<int>(view.scrollView()->contentSize().height)));
    }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>& error) override {
        lastError = error;
        log.push_back("fail " + std::to_string(error->code()));
    }
    bool ended() const {
        return !log.empty() && (log.back().rfind("finish", 0) == 0 || log.back().rfind("fail", 0) == 0);
    }
};

class WebViewTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        web = make<UIWebView>(CGRectMake(0, 0, 320, 400));
        log = make<WebLog>();
        web->setDelegate(log);
    }
    void TearDown() override { UIKitTest::TearDown(); }
    bool waitForEnd() {
        return testsupport::pumpMainRunLoopUntil([&] { return log->ended(); }, 10);
    }
    // The load just begun ends on a later turn, once the page's process has read the page.
    bool loadEnds() {
        auto ends = [&] {
            return std::count_if(log->log.begin(), log->log.end(), [](const std::string& line) {
                return line.rfind("finish", 0) == 0 || line.rfind("fail", 0) == 0;
            });
        };
        const auto before = ends();
        return testsupport::pumpMainRunLoopUntil([&] { return ends() > before; }, 10);
    }
    Ref<UIWebView> web;
    Ref<WebLog> log;
};

TEST_F(WebViewTest, LoadsAPageFromALoopbackServer) {
    LoopbackHTTPServer server;
    server.setReply("/page", ScriptedReply::text("<html><body><p>车友问答</p></body></html>", 200,
                                                 "text/html; charset=utf-8"));
    auto url = NSURL::URLWithString(server.url("/page"));
    web->loadRequest(NSURLRequest::requestWithURL(url));
    // Nothing happens inside the call.
    EXPECT_TRUE(log->log.empty());
    EXPECT_FALSE(web->isLoading());
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(log->log.size(), 3u);
    EXPECT_EQ(log->log[0], "should " + url->absoluteString() + " 5");
    EXPECT_EQ(log->log[1], "start loading");
    EXPECT_EQ(log->log[2].rfind("finish", 0), 0u);
    EXPECT_FALSE(web->isLoading());
    EXPECT_EQ(web->shownHTML(), "<html><body><p>车友问答</p></body></html>");
    EXPECT_EQ(web->shownText(), "车友问答");
    EXPECT_EQ(web->shownMIMEType(), std::optional<std::string>("text/html"));
    EXPECT_EQ(web->request()->URL()->absoluteString(), url->absoluteString());
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/page");
}

TEST_F(WebViewTest, HTMLStringsWithoutABaseFinishOnLaterTurns) {
    web->loadHTMLString("<div style=\"height:40px\">abcd</div>", nullptr);
    EXPECT_TRUE(log->log.empty());
    ASSERT_TRUE(loadEnds());
    // The block and the body's margins of 8 points.
    EXPECT_EQ(log->log, (std::vector<std::string>{"should about:blank 5", "start loading", "finish 56"}));
    EXPECT_EQ(web->shownHTML(), "<div style=\"height:40px\">abcd</div>");
    EXPECT_EQ(web->baseURL(), nullptr);
    EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().width, 320);
    EXPECT_EQ(web->finishedLoadCount(), 1);
}

TEST_F(WebViewTest, DataIsDecodedByItsEncoding) {
    auto bytes = NSString::dataUsingEncoding("<b>改装</b>", *NSString::encodingForIANACharSetName("gbk"));
    ASSERT_TRUE(bytes);
    auto base = NSURL::URLWithString("http://example.invalid/q/1");
    web->loadData(*bytes, std::string("text/html"), std::string("gbk"), base);
    ASSERT_TRUE(loadEnds());
    EXPECT_EQ(web->shownHTML(), "<b>改装</b>");
    EXPECT_EQ(web->shownData(), *bytes);
    EXPECT_EQ(web->baseURL(), base);
    EXPECT_EQ(log->log.front(), "should http://example.invalid/q/1 5");
    // An unknown encoding name falls back to UTF-8.
    web->loadData(NSData(reinterpret_cast<const std::uint8_t*>("ok"), 2), std::nullopt,
                  std::string("no-such"), nullptr);
    ASSERT_TRUE(loadEnds());
    EXPECT_EQ(web->shownHTML(), "ok");
}

TEST_F(WebViewTest, ARefusedLoadShowsNothingAndTellsNothingMore) {
    log->allow = false;
    web->loadHTMLString("<p>x</p>", nullptr);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(log->log, std::vector<std::string>{"should about:blank 5"});
    EXPECT_EQ(web->shownHTML(), "");
    EXPECT_FALSE(web->isLoading());
}

TEST_F(WebViewTest, HTTPErrorsStillShowTheirPage) {
    LoopbackHTTPServer server;
    server.setReply("/missing", ScriptedReply::text("<h1>Not here</h1>", 404, "text/html"));
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/missing"))));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(log->log.back().rfind("finish", 0), 0u);
    EXPECT_EQ(web->shownText(), "Not here");
}

TEST_F(WebViewTest, TransportFailuresReportTheError) {
    testsupport::RefusingPort refusing;
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(refusing.url("/gone"))));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(log->log.back(), "fail -1004");
    EXPECT_FALSE(web->isLoading());

    log->log.clear();
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString("weird://thing")));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(log->log.back(), "fail -1002");

    log->log.clear();
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::fileURLWithPath("/no/such/file.html")));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(log->log.back(), "fail -1100");
}

TEST_F(WebViewTest, FilesLoadFromDisk) {
    testsupport::TemporaryDirectory dir;
    const std::string path = dir.path() + "/page.html";
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fputs("<p>local</p>", f);
        std::fclose(f);
    }
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::fileURLWithPath(path)));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(web->shownText(), "local");
    EXPECT_EQ(web->shownMIMEType(), std::optional<std::string>("text/html"));
}

TEST_F(WebViewTest, ANewLoadCancelsTheOneInProgress) {
    LoopbackHTTPServer server;
    ScriptedReply slow = ScriptedReply::text("<p>slow</p>", 200, "text/html");
    slow.delayBeforeHeaders = 2;
    server.setReply("/slow", slow);
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/slow"))));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return web->isLoading(); }, 5));
    web->loadHTMLString("<p>fast</p>", nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] { return !log->log.empty() && log->log.back().rfind("finish", 0) == 0; }, 5));
    EXPECT_EQ(log->log[2], "fail -999");  // the cancelled load, told before the next begins
    EXPECT_EQ(web->shownText(), "fast");
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(web->shownText(), "fast");  // the slow reply never shows

    web->loadHTMLString("<p>again</p>", nullptr);
    web->stopLoading();  // before it asked: nothing at all
    const auto before = log->log.size();
    testsupport::drainMainRunLoop();
    EXPECT_EQ(log->log.size(), before);
}

TEST_F(WebViewTest, HistoryOfRequestLoads) {
    LoopbackHTTPServer server;
    server.setReply("/a", ScriptedReply::text("<p>A</p>", 200, "text/html"));
    server.setReply("/b", ScriptedReply::text("<p>B</p>", 200, "text/html"));
    auto load = [&](const std::string& path) {
        log->log.clear();
        web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(path))));
        return waitForEnd();
    };
    ASSERT_TRUE(load("/a"));
    EXPECT_FALSE(web->canGoBack());
    ASSERT_TRUE(load("/b"));
    EXPECT_TRUE(web->canGoBack());
    log->log.clear();
    web->goBack();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(web->shownText(), "A");
    EXPECT_NE(log->log[0].find(" 2"), std::string::npos);  // back-forward navigation
    EXPECT_TRUE(web->canGoForward());
    log->log.clear();
    web->goForward();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(web->shownText(), "B");
    log->log.clear();
    web->reload();
    ASSERT_TRUE(waitForEnd());
    EXPECT_NE(log->log[0].find(" 3"), std::string::npos);
    EXPECT_EQ(server.requestCount(), 5u);
}

// A picture of the screen shows what the page says, inside the content, which the next page
// replaces; the page scrolls with the scroll view.
TEST_F(WebViewTest, AShownPageDrawsInsideTheContentAndScrolls) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->setHidden(false);
    window->addSubview(web);
    auto darkRows = [&] {
        testsupport::drainMainRunLoop();
        controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
        std::vector<int> rows;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 320; ++x)
                if (controlstest::RGBA p = pixels.at(x, y); p.r < 100 && p.g < 100 && p.b < 100) {
                    rows.push_back(y);
                    break;
                }
        return rows;
    };
    web->loadHTMLString(
        "<body style=\"margin:0\"><div style=\"height:100px\"></div><p style=\"margin:0;"
        "font-size:30px;line-height:36px\">Title</p><div style=\"height:2000px\"></div></body>",
        nullptr);
    ASSERT_TRUE(loadEnds());
    EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().height, 2000 + 100 + 36);
    auto rows = darkRows();
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.front(), 100);
    EXPECT_LE(rows.back(), 140);
    web->scrollView()->setContentOffset(CGPointMake(0, 50));
    auto scrolled = darkRows();
    ASSERT_FALSE(scrolled.empty());
    EXPECT_EQ(scrolled.front(), rows.front() - 50);

    web->loadHTMLString("", nullptr);
    ASSERT_TRUE(loadEnds());
    EXPECT_TRUE(darkRows().empty());
    EXPECT_DOUBLE_EQ(web->scrollView()->contentOffset().y, 0);
    EXPECT_GE(web->scrollView()->contentSize().height, 1);
    window->setHidden(true);
}

TEST_F(WebViewTest, TestsMaySetTheContentSizeAfterTheLoad) {
    web->loadHTMLString("<div style=\"height:484px\"></div>", nullptr);
    ASSERT_TRUE(loadEnds());
    EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().height, 500);
    EXPECT_EQ(log->log.back(), "finish 500");
    web->scrollView()->setContentSize(CGSizeMake(320, 777));
    EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().height, 777);
}

TEST_F(WebViewTest, ScriptsAreRecordedAndAnsweredAsScripted) {
    EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("document.body.offsetHeight"), "");
    web->setJavaScriptAnswer("document.body.offsetHeight", "640");
    EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("document.body.offsetHeight"), "640");
    web->setJavaScriptHandler([](const std::string& s) -> std::optional<std::string> {
        if (s.rfind("echo:", 0) == 0) return s.substr(5);
        return std::nullopt;
    });
    EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("echo:hi"), "hi");
    EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("document.body.offsetHeight"), "640");
    EXPECT_EQ(web->evaluatedScripts().size(), 4u);
}

TEST_F(WebViewTest, MarkupIsStrippedForTheText) {
    web->loadHTMLString("<html><head><style>p{color:red}</style><script>var a = '<p>';</script></head>"
                        "<body><div>one</div><p>two &amp; three</p>four&nbsp;five<br>six</body></html>",
                        nullptr);
    ASSERT_TRUE(loadEnds());
    EXPECT_EQ(web->shownText(), "one\ntwo & three\nfour five\nsix");
    // Broken markup does not hang or throw.
    for (const char* bad : {"<", "<p", "<script>never closed", "&", "<<<>>>", "</>"}) {
        web->loadHTMLString(bad, nullptr);
        ASSERT_TRUE(loadEnds());
        (void)web->shownText();
    }
}

TEST_F(WebViewTest, MutatedMarkupNeverBreaksThePageOrItsText) {
    const std::string page =
        "<html><head><style>p{color:red;margin:4px}</style></head><body><div>one</div>"
        "<p>two &amp; three</p><table><tr><td>cell</td></tr></table><script>x</script></body></html>";
    for (int seed = 0; seed < 200; ++seed) {
        std::string mutated = testsupport::mutate(page, static_cast<unsigned>(seed));
        web->loadHTMLString(mutated, nullptr);
        ASSERT_TRUE(loadEnds());
        ASSERT_EQ(web->finishedLoadCount(), seed + 1) << mutated;
        EXPECT_GE(web->scrollView()->contentSize().height, 1);
        (void)web->shownText();
    }
}

TEST_F(WebViewTest, AnAddedTapRecognisesBesideTheViewsOwnWhenAllowed) {
    struct Together : NSObject, UIGestureRecognizerDelegate {
        std::optional<bool>
        gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer&,
                                                                            UIGestureRecognizer&) override {
            return true;
        }
    };
    auto window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->setHidden(false);
    window->addSubview(web);
    int appTaps = 0;
    auto tap = make<UITapGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>&) { ++appTaps; });
    auto together = make<Together>();
    tap->setDelegate(together);
    web->addGestureRecognizer(tap);
    ASSERT_TRUE(web->contentTapRecognizer());
    EXPECT_EQ(web->gestureRecognizers().size(), 2u);
    UITestDriver::reset();
    UITestDriver::tap(web);
    EXPECT_EQ(appTaps, 1);
    EXPECT_EQ(web->contentTapCount(), 1);
    UITestDriver::reset();
    window->setHidden(true);
}

}  // namespace

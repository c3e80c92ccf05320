// A page's stylesheets and pictures end at their deadline (2 s on the stage) by the clock, counted
// from each fetch's first request through every redirect: a server that trickles, answers each
// hop slowly or sends a byte now and then cannot hold the page, and the platform's manual clock standing
// still does not stop the deadline. A new load or a gone web view leaves no deadline behind.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/WebViewTestSupport.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;
using Clock = std::chrono::steady_clock;

class Ends : public NSObject, public UIWebViewDelegate {
  public:
    int finishes = 0, failures = 0;
    void webViewDidFinishLoad(UIWebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { ++failures; }
    int ends() const { return finishes + failures; }
};

// A green block the stylesheet draws, when it arrives whole.
const std::string kSheet = "#x{background:#00c800;width:60px;height:40px}";

class WebViewDeadlineTest : public uikittest::WebViewStageTest {
  protected:
    void SetUp() override {
        WebViewStageTest::SetUp();
        ends = make<Ends>();
        web->setDelegate(ends);
    }
    void TearDown() override {
        web->setDelegate(nullptr);
        server.stop();
        WebViewStageTest::TearDown();
    }
    // Loads the page and runs the loop until it ends; the real seconds it took, or nullopt.
    std::optional<double> load(const std::string& html, bool clockStopped = false) {
        std::optional<testsupport::ManualClock> stopped;
        if (clockStopped) stopped.emplace();
        const auto begin = Clock::now();
        web->loadHTMLString(html, NSURL::URLWithString(server.url("/page")));
        if (!testsupport::pumpMainRunLoopUntil([&] { return ends->ends() > 0; }, 30)) return std::nullopt;
        return std::chrono::duration<double>(Clock::now() - begin).count();
    }
    // The green block drawn at its size.
    bool sheetApplied() {
        testsupport::drainMainRunLoop();
        return web->shownHTML().find("id=\"x\"") != std::string::npos && greenPixels() == 60 * 40;
    }
    int greenPixels() {
        auto image = UIWindowRenderer::imageOfView(window, 1);
        controlstest::PixelReader pixels(image);
        int count = 0;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 320; ++x) {
                auto p = pixels.at(x, y);
                count += p.r < 10 && std::abs(p.g - 200) < 10 && p.b < 10;
            }
        return count;
    }
    // A redirect chain of `hops` hops, each answered after `delay` seconds, ending in the sheet.
    std::string chain(const std::string& name, int hops, double delay) {
        for (int i = 0; i < hops; ++i) {
            const std::string to =
                i + 1 < hops ? "/" + name + std::to_string(i + 1) : "/" + name + "-end.css";
            ScriptedReply reply = ScriptedReply::redirect(302, server.url(to));
            reply.delayBeforeHeaders = delay;
            server.setReply("/" + name + std::to_string(i), reply);
        }
        server.setReply("/" + name + "-end.css", ScriptedReply::text(kSheet, 200, "text/css"));
        return server.url("/" + name + "0");
    }
    std::size_t requestsFor(const std::string& path) const {
        std::size_t count = 0;
        for (const auto& request : server.requests()) count += request.path == path;
        return count;
    }
    static std::string page(const std::string& head) {
        return "<html><head>" + head + "</head><body style=\"margin:0\"><div id=\"x\"></div></body></html>";
    }
    static std::string link(const std::string& href) {
        return "<link rel=\"stylesheet\" href=\"" + href + "\">";
    }

    LoopbackHTTPServer server;
    Ref<Ends> ends;
};

TEST_F(WebViewDeadlineTest, RedirectChainsEndAtTheDeadlineCountedFromTheFirstRequest) {
    // Each hop answers within the silence time-out (0.5 s); only the chain as a whole is slow.
    struct Case {
        const char* name;
        int hops;
        double delay;
        bool clockStopped;
        bool applied;
    };
    const Case cases[] = {
        {"a short quick chain arrives", 3, 0.1, false, true},
        {"fifteen slow hops end at the deadline", 15, 0.4, false, false},
        {"fifteen slow hops while the platform clock stands still", 15, 0.4, true, false},
        // 0.4 s short of the deadline at each hop, the chain as a whole passes it.
        {"six hops past the deadline together", 6, 0.4, false, false},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ends->finishes = ends->failures = 0;
        const std::string name = "hop" + std::to_string(row++) + "-";
        auto took = load(page(link(chain(name, c.hops, c.delay))), c.clockStopped);
        ASSERT_TRUE(took) << "the page never ended";
        // A stylesheet that fails does not fail the page.
        EXPECT_EQ(ends->finishes, 1);
        EXPECT_EQ(sheetApplied(), c.applied);
        if (!c.applied) {
            EXPECT_GE(*took, 1.9);
            EXPECT_LE(*took, 6);
            // The chain was left where the deadline found it.
            EXPECT_EQ(requestsFor("/" + name + "-end.css"), 0u);
            if (c.hops > 8) {
                EXPECT_EQ(requestsFor("/" + name + std::to_string(c.hops - 1)), 0u);
            }
        }
    }
}

TEST_F(WebViewDeadlineTest, TricklingStylesheetsHoldThePageOnlyToTheirDeadlines) {
    // A silence time-out far longer than the deadline, as the defaults have it (15 s and 30 s):
    // seven sheets that each send a byte every 3 s are never silent for long enough. Six fetch
    // at once and end at 1 s, then the seventh at 2 s; a deadline looked at only when a byte
    // comes would end them at 3 s and 6 s.
    UIWebView::ResourceLimits limits = UIWebView::resourceLimits();
    limits.timeoutSeconds = 10;
    limits.deadlineSeconds = 1;
    UIWebView::setResourceLimits(limits);
    std::string head;
    for (int i = 0; i < 7; ++i) {
        ScriptedReply reply = ScriptedReply::text(kSheet, 200, "text/css");
        reply.trickleDelay = 3;
        reply.trickleBytes = 1;
        const std::string path = "/trickle" + std::to_string(i) + ".css";
        server.setReply(path, reply);
        head += link(server.url(path));
    }
    auto took = load(page(head));
    ASSERT_TRUE(took) << "the page never ended";
    EXPECT_EQ(ends->finishes, 1);
    EXPECT_FALSE(sheetApplied());
    EXPECT_GE(*took, 1.9);
    EXPECT_LE(*took, 4);
    EXPECT_EQ(server.requestCount(), 7u);
}

TEST_F(WebViewDeadlineTest, ANewLoadOrAGoneViewLeavesNoDeadlineBehind) {
    ScriptedReply slow = ScriptedReply::text(kSheet, 200, "text/css");
    slow.trickleDelay = 0.2;
    server.setReply("/slow.css", slow);
    server.setReply("/quick.css", ScriptedReply::text(kSheet, 200, "text/css"));

    // The first page's fetch is cancelled by the second load; its deadline passes unseen.
    web->loadHTMLString(page(link(server.url("/slow.css"))), NSURL::URLWithString(server.url("/one")));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return requestsFor("/slow.css") >= 1; }, 5));
    testsupport::pumpMainRunLoop(0.2);
    web->loadHTMLString(page(link(server.url("/quick.css"))), NSURL::URLWithString(server.url("/one")));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return ends->finishes > 0; }, 5));
    // The first page was told it was cancelled, and nothing else.
    EXPECT_EQ(ends->failures, 1);
    EXPECT_TRUE(sheetApplied());
    testsupport::pumpMainRunLoop(2.3);
    EXPECT_EQ(ends->finishes, 1);
    EXPECT_EQ(ends->failures, 1);
    EXPECT_TRUE(sheetApplied());

    // A web view gone in the middle of its fetches: their alarms go with it.
    auto gone = make<UIWebView>(CGRectMake(0, 0, 320, 400));
    window->addSubview(gone);
    gone->loadHTMLString(page(link(server.url("/slow.css"))), NSURL::URLWithString(server.url("/two")));
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return requestsFor("/slow.css") >= 2; }, 5));
    gone->removeFromSuperview();
    gone = nullptr;
    testsupport::pumpMainRunLoop(2.3);
    EXPECT_EQ(ends->ends(), 2);
    EXPECT_TRUE(sheetApplied());
}

}  // namespace

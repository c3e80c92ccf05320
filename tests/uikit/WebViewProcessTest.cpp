// Web views and their page's process: a process that is killed, passes its memory or CPU bound,
// stops answering, misbehaves (an impostor program speaking the wire format wrongly) or cannot
// start fails the load in progress once, with its code, never also finishing; the view shows white
// and the next load works in a new process. A process that dies before it reads the load is
// replaced unseen. A rendering waits one second in all for its stalled views. A link the process
// names that the app would not load does nothing. A released view leaves no process behind but the
// spare. Pages past the old cuts (64 stylesheets, 2,000 pictures) show whole, laid out once.

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "foundation/NSError.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/WebViewTestSupport.h"
#include "uikit/UIWindowRenderer.h"
#include "uikit/WebPageProcess.h"
#include "web/WebSanitizerBuild.h"

namespace {

using detail::WebPageProcess;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

class Events : public NSObject, public UIWebViewDelegate {
  public:
    int finishes = 0, failures = 0, asked = 0, starts = 0;
    std::string domain;
    long code = 0;
    std::optional<bool> webViewShouldStartLoadWithRequest(UIWebView&, const Ref<NSURLRequest>&,
                                                          UIWebViewNavigationType) override {
        ++asked;
        return true;
    }
    void webViewDidStartLoad(UIWebView&) override { ++starts; }
    void webViewDidFinishLoad(UIWebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>& error) override {
        ++failures;
        domain = error->domain();
        code = error->code();
    }
    int ends() const { return finishes + failures; }
    void clear() {
        finishes = failures = asked = starts = 0;
        domain.clear();
        code = 0;
    }
};

// The pids of this test program's children, zombies included (so a child not reaped counts).
std::set<int> children() {
    std::set<int> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    while (dirent* entry = ::readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
        FILE* file = std::fopen(path, "re");
        if (!file) continue;
        char buffer[512] = {};
        const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
        std::fclose(file);
        buffer[n] = 0;
        const char* at = std::strrchr(buffer, ')');
        int parent = 0;
        if (at && std::sscanf(at + 1, " %*c %d", &parent) == 1 && parent == ::getpid()) found.insert(pid);
    }
    ::closedir(proc);
    return found;
}

std::string programOf(int pid) {
    char path[64], target[PATH_MAX] = {};
    std::snprintf(path, sizeof path, "/proc/%d/exe", pid);
    const ssize_t n = ::readlink(path, target, sizeof target - 1);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

std::uint64_t residentBytesOf(int pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", pid);
    FILE* file = std::fopen(path, "re");
    if (!file) return 0;
    unsigned long long size = 0, resident = 0;
    const int read = std::fscanf(file, "%llu %llu", &size, &resident);
    std::fclose(file);
    return read == 2 ? resident * std::uint64_t(::sysconf(_SC_PAGESIZE)) : 0;
}

std::string pngOf(const Ref<UIColor>& colour, int width, int height) {
    auto image = controlstest::solidImage(colour, CGSizeMake(width, height), 1);
    auto data = UIImagePNGRepresentation(image);
    return data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length()) : std::string();
}

class WebViewProcessTest : public uikittest::WebViewStageTest {
  protected:
    void SetUp() override {
        WebViewStageTest::SetUp();
        events = make<Events>();
        web->setDelegate(events);
        server.setReply("/page", ScriptedReply::text("<p>ordinary</p>", 200, "text/html"));
    }
    void TearDown() override {
        WebPageProcess::resetLimits();
        WebPageProcess::resetProgramPath();
        WebViewStageTest::TearDown();
    }
    // A new web view in the old one's place (a view keeps its process from load to load).
    void freshWebView() {
        web->removeFromSuperview();
        web = make<UIWebView>(CGRectMake(0, 0, 320, 400));
        window->addSubview(web);
        web->setDelegate(events);
    }
    // Loads the page and runs the loop until it ends; then a little more, so that anything told
    // twice is told.
    bool loadEnds(const std::string& html, double seconds = 20) {
        events->clear();
        web->loadHTMLString(html, NSURL::URLWithString(server.url("/")));
        const bool ended = testsupport::pumpMainRunLoopUntil([&] { return events->ends() > 0; }, seconds);
        testsupport::pumpMainRunLoop(0.2);
        return ended;
    }
    // Every pixel of the web view is white.
    testing::AssertionResult showsWhite() {
        controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
        for (int y = 0; y < 400; y += 3)
            for (int x = 0; x < 320; x += 3) {
                auto p = pixels.at(x, y);
                if (p.r != 255 || p.g != 255 || p.b != 255)
                    return testing::AssertionFailure() << "(" << x << ", " << y << ") is " << int(p.r) << ", "
                                                       << int(p.g) << ", " << int(p.b);
            }
        return testing::AssertionSuccess();
    }
    // Exactly one failure of the page's process with the code, and no finish.
    testing::AssertionResult failedOnceWith(long code) {
        if (events->failures != 1 || events->finishes != 0)
            return testing::AssertionFailure()
                   << events->failures << " failures and " << events->finishes << " finishes";
        if (events->domain != UIWebViewPageProcessErrorDomain || events->code != code)
            return testing::AssertionFailure() << "failed with " << events->domain << " " << events->code;
        return testing::AssertionSuccess();
    }
    // The next load, with the real program, finishes in a new process.
    testing::AssertionResult nextLoadWorks(int previousPid) {
        WebPageProcess::resetProgramPath();
        if (!loadEnds("<p style=\"background:#c80000;height:20px\">again</p>") || events->finishes != 1 ||
            events->failures != 0)
            return testing::AssertionFailure() << "the next load did not finish";
        const int pid = web->pageProcessID();
        if (pid == 0 || pid == previousPid) return testing::AssertionFailure() << "no new process";
        char real[PATH_MAX];
        const std::string program = ::realpath(WebPageProcess::programPath().c_str(), real) ? real : "";
        if (programOf(pid) != program) return testing::AssertionFailure() << "runs " << programOf(pid);
        if (web->shownText() != "again") return testing::AssertionFailure() << "shows " << web->shownText();
        return testing::AssertionSuccess();
    }

    LoopbackHTTPServer server;
    Ref<Events> events;
};

TEST_F(WebViewProcessTest, AnImpostorOrAMissingProgramFailsTheLoadOnceWithItsCode) {
    ScriptedReply slow = ScriptedReply::text("p{}", 200, "text/css");
    slow.delayBeforeHeaders = 0.4;
    server.setReply("/slow.css", slow);
    struct Row {
        const char* mode;  // the impostor's argument; empty: a program that does not exist
        long code;
    };
    const Row rows[] = {
        {"no-ready", UIWebViewPageProcessErrorCouldNotStart},
        {"", UIWebViewPageProcessErrorCouldNotStart},
        {"garbage-at-start", UIWebViewPageProcessErrorMalformedMessage},
        {"ready-twice", UIWebViewPageProcessErrorMalformedMessage},
        {"huge-frame", UIWebViewPageProcessErrorMalformedMessage},
        {"garbage", UIWebViewPageProcessErrorMalformedMessage},
        {"wrong-id", UIWebViewPageProcessErrorMalformedMessage},
        {"wrong-kind", UIWebViewPageProcessErrorMalformedMessage},
        {"unasked", UIWebViewPageProcessErrorMalformedMessage},
        {"bad-url", UIWebViewPageProcessErrorMalformedMessage},
        {"wrong-pixels", UIWebViewPageProcessErrorMalformedMessage},
        {"laid-out-waiting", UIWebViewPageProcessErrorMalformedMessage},
        {"exit-oom", UIWebViewPageProcessErrorMemoryLimit},
        {"crash", UIWebViewPageProcessErrorCrashed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(*row.mode ? row.mode : "missing program");
        if (*row.mode)
            WebPageProcess::setProgramPath(WEB_PAGE_IMPOSTOR_PATH, {row.mode});
        else
            WebPageProcess::setProgramPath("/nonexistent/web-page-process");
        freshWebView();
        ASSERT_TRUE(loadEnds("<p>hostile</p>"));
        EXPECT_TRUE(failedOnceWith(row.code));
        EXPECT_FALSE(web->isLoading());
        EXPECT_TRUE(showsWhite());
        EXPECT_TRUE(nextLoadWorks(0));
    }
}

TEST_F(WebViewProcessTest, AKilledProcessFailsTheLoadInProgressOnlyAndTheNextLoadWorks) {
    UIWebView::ResourceLimits limits = UIWebView::resourceLimits();
    limits.timeoutSeconds = 10;
    limits.deadlineSeconds = 10;
    UIWebView::setResourceLimits(limits);
    ScriptedReply slow = ScriptedReply::text("p{color:blue}", 200, "text/css");
    slow.delayBeforeHeaders = 3;
    server.setReply("/slow.css", slow);
    const std::string waiting = "<link rel=\"stylesheet\" href=\"slow.css\"><p>waiting</p>";
    const std::string plain = "<p style=\"background:#0000c8;height:50px\">plain</p>";

    // During a load: its document read, its stylesheet still coming.
    events->clear();
    web->loadHTMLString(waiting, NSURL::URLWithString(server.url("/")));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] { return web->isLoading() && web->shownText() == "waiting" && web->pageProcessID() != 0; }));
    int pid = web->pageProcessID();
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return events->ends() > 0; }));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(failedOnceWith(UIWebViewPageProcessErrorCrashed));
    EXPECT_EQ(web->pageProcessID(), 0);
    EXPECT_TRUE(showsWhite());
    EXPECT_TRUE(nextLoadWorks(pid));

    // After a load: nothing is in progress, so nothing is told; the page goes white.
    ASSERT_TRUE(loadEnds(plain));
    ASSERT_EQ(events->finishes, 1);
    EXPECT_FALSE(showsWhite());
    pid = web->pageProcessID();
    events->clear();
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return web->pageProcessID() == 0; }));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(events->ends(), 0);
    EXPECT_TRUE(showsWhite());
    EXPECT_TRUE(nextLoadWorks(pid));

    // Idle, killed, then a new load at once: the load takes a new process.
    pid = web->pageProcessID();
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !children().count(pid); }));
    EXPECT_TRUE(nextLoadWorks(pid));
    EXPECT_FALSE(showsWhite());
}

TEST_F(WebViewProcessTest, AProcessPastItsMemoryOrCPUBoundIsEndedAndTheLoadFails) {
    // Bounds low enough for a test, around what a fresh process holds.
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([] { return WebPageProcess::spareProcessID() != 0; }));
    testsupport::pumpMainRunLoop(0.5);
    const std::uint64_t fresh = residentBytesOf(WebPageProcess::spareProcessID());
    ASSERT_GT(fresh, 0u);

    // Eight pictures of 2,000 x 2,000 pixels, each shown at its size: 128 MB decoded.
    const std::string big = pngOf(UIColor::colorWithRed(0, 0.5, 1, 1), 2000, 2000);
    std::string pictures = "<body style=\"margin:0\">";
    for (int i = 0; i < 8; ++i) {
        server.setReply("/big" + std::to_string(i) + ".png", ScriptedReply::text(big, 200, "image/png"));
        pictures += "<img width=\"2000\" height=\"2000\" src=\"big" + std::to_string(i) + ".png\">";
    }
    // An ordinary long page: 50,000 paragraphs under a few rules take about a second of one core,
    // four times the bound below (hostile shapes are cheap to the engine now; any page may still
    // take longer than its process is allowed).
    std::string longPage = "<style>p{margin:2px 0;color:#333}p.c0 span{font-weight:bold}</style>";
    for (int i = 0; i < 50000; ++i)
        longPage += "<p class=\"c" + std::to_string(i % 20) + "\"><span>words</span> of paragraph " +
                    std::to_string(i) + "</p>";

    struct Row {
        const char* name;
        std::string page;
        WebPageProcess::Limits limits;
        long code;
    };
    WebPageProcess::Limits memory, cpu;
    memory.residentBytes = fresh + (48ull << 20);
    cpu.cpuSeconds = 0.25;
    const Row rows[] = {
        {"a long page, in memory", longPage, memory, UIWebViewPageProcessErrorMemoryLimit},
        {"a long page, in time", longPage, cpu, UIWebViewPageProcessErrorCPULimit},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WebPageProcess::setLimits(row.limits);
        ASSERT_TRUE(loadEnds(row.page, 30));
        EXPECT_TRUE(failedOnceWith(row.code));
        EXPECT_TRUE(showsWhite());
        WebPageProcess::resetLimits();
        EXPECT_TRUE(nextLoadWorks(0));
    }

    // Pictures are decoded as they are painted, the rest once the page is in: the page finishes,
    // and its process passes the bound afterwards, decoding. Nothing was in progress, so nothing
    // more is told; the view goes white. (Under the thread sanitizer, whose shadow multiplies what
    // a decode holds, the first picture's decode may pass the bound during the load: it fails.)
    WebPageProcess::setLimits(memory);
    freshWebView();
    ASSERT_TRUE(loadEnds(pictures + "</body>", 30));
    if (detail::webpage::kBuiltWith == detail::webpage::Sanitizer::None)
        EXPECT_EQ(events->finishes, 1);
    else
        EXPECT_TRUE(events->finishes == 1 || failedOnceWith(UIWebViewPageProcessErrorMemoryLimit));
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return web->pageProcessID() == 0; }, 30));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(events->ends(), 1);
    EXPECT_TRUE(showsWhite());
    WebPageProcess::resetLimits();
    EXPECT_TRUE(nextLoadWorks(0));
}

// A load that replaces one whose page still holds the process starts at once in a fresh one: the
// old page's work (here past the CPU bound, lowered for the test) never ends the new load.
TEST_F(WebViewProcessTest, ALoadReplacingABusyPageTakesAFreshProcess) {
    std::string longPage;
    for (int i = 0; i < 50000; ++i) longPage += "<p>words of paragraph " + std::to_string(i) + "</p>";
    // A twentieth of the build's bound: a quarter of a second, more under the sanitizers, where the
    // next small page takes longer too.
    WebPageProcess::Limits cpu;
    cpu.cpuSeconds = WebPageProcess::Limits::defaultCPUSeconds() / 20;
    WebPageProcess::setLimits(cpu);
    events->clear();
    web->loadHTMLString(longPage, NSURL::URLWithString(server.url("/")));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return web->pageProcessID() != 0; }));
    const int busy = web->pageProcessID();
    events->clear();
    web->loadHTMLString("<p style=\"background:#c80000;height:20px\">next</p>",
                        NSURL::URLWithString(server.url("/")));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return events->finishes > 0; }, 30));
    EXPECT_EQ(events->finishes, 1);
    // The page replaced reports itself cancelled, as any replaced load does; nothing else fails.
    EXPECT_LE(events->failures, 1);
    if (events->failures) {
        EXPECT_EQ(events->domain, NSURLErrorDomain);
        EXPECT_EQ(events->code, NSURLErrorCancelled);
    }
    testsupport::pumpMainRunLoop(0.5);
    EXPECT_EQ(events->finishes, 1);
    EXPECT_NE(web->pageProcessID(), busy);
    EXPECT_FALSE(showsWhite());
}

TEST_F(WebViewProcessTest, AReleasedWebViewLeavesNoProcessButTheSpare) {
    ASSERT_TRUE(loadEnds("<p>one</p>"));
    ASSERT_EQ(events->finishes, 1);
    const int pid = web->pageProcessID();
    ASSERT_NE(pid, 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([] { return WebPageProcess::spareProcessID() != 0; }));
    const int spare = WebPageProcess::spareProcessID();
    EXPECT_TRUE(children().count(pid));
    EXPECT_TRUE(children().count(spare));
    web->removeFromSuperview();
    web = nullptr;
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return children() == std::set<int>{spare}; }))
        << children().size() << " children";
}

TEST_F(WebViewProcessTest, PagesPastTheOldCutsShowWhole) {
    // 64 stylesheets, each giving one block its height.
    std::string head, body;
    for (int i = 0; i < 64; ++i) {
        const std::string name = "s" + std::to_string(i) + ".css";
        server.setReply("/" + name,
                        ScriptedReply::text("#b" + std::to_string(i) + "{height:2px;background:#00c800}", 200,
                                            "text/css"));
        head += "<link rel=\"stylesheet\" href=\"" + name + "\">";
        body += "<div id=\"b" + std::to_string(i) + "\"></div>";
    }
    ASSERT_TRUE(
        loadEnds("<html><head>" + head + "</head><body style=\"margin:0\">" + body + "</body></html>"));
    EXPECT_EQ(events->finishes, 1);
    EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().height, 128);

    // 2,000 small pictures in rows of 80 across the view: 25 rows of 4 points.
    const std::string small = pngOf(UIColor::colorWithRed(0, 0.5, 1, 1), 4, 4);
    // Not kept by the URL cache: 2,000 writes to its store would be most of the test's time.
    ScriptedReply picture = ScriptedReply::text(small, 200, "image/png");
    picture.headers.push_back({"Cache-Control", "no-store"});
    server.setDefaultHandler([&](const testsupport::RecordedRequest&) { return picture; });
    std::string page = "<html><head><style>img{display:block;float:left;width:4px;height:4px}</style></head>"
                       "<body style=\"margin:0\">";
    for (int i = 0; i < 2000; ++i) page += "<img src=\"p" + std::to_string(i) + ".png\">";
    ASSERT_TRUE(loadEnds(page + "</body></html>", 60));
    EXPECT_EQ(events->finishes, 1);
    controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
    int blank = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 320; ++x)
            if (auto p = pixels.at(x, y);
                std::abs(p.r - 0) > 8 || std::abs(p.g - 128) > 8 || std::abs(p.b - 255) > 8)
                ++blank;
    EXPECT_EQ(blank, 0);
    EXPECT_GE(server.requestCount(), 2000u);
}

// A process that stops answering (stopped, silent, or silent mid-message) spends no CPU and no
// memory: the wait for its answer is what ends it.
TEST_F(WebViewProcessTest, AProcessThatStopsAnsweringEndsItsLoadOnceWithItsCode) {
    ScriptedReply slow = ScriptedReply::text("p{color:blue}", 200, "text/css");
    slow.delayBeforeHeaders = 0.3;
    server.setReply("/slow.css", slow);
    WebPageProcess::Limits limits;
    limits.unresponsiveSeconds = 1;
    struct Row {
        const char* mode;  // the impostor's argument; empty: the program, stopped mid-load
    };
    for (const Row& row : {Row{"silent"}, Row{"half-frame"}, Row{""}}) {
        SCOPED_TRACE(*row.mode ? row.mode : "stopped");
        WebPageProcess::setLimits(limits);
        if (*row.mode) WebPageProcess::setProgramPath(WEB_PAGE_IMPOSTOR_PATH, {row.mode});
        freshWebView();
        events->clear();
        const auto begin = std::chrono::steady_clock::now();
        web->loadHTMLString("<link rel=\"stylesheet\" href=\"slow.css\"><p>waiting</p>",
                            NSURL::URLWithString(server.url("/")));
        int stopped = 0;
        if (!*row.mode) {
            // Stopped once its document is read: the stylesheet that comes goes unanswered.
            ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return web->shownText() == "waiting"; }));
            stopped = web->pageProcessID();
            ASSERT_EQ(::kill(stopped, SIGSTOP), 0);
        }
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return events->ends() > 0; }, 20));
        testsupport::pumpMainRunLoop(0.2);
        EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 1.0);
        EXPECT_TRUE(failedOnceWith(UIWebViewPageProcessErrorUnresponsive));
        EXPECT_TRUE(showsWhite());
        if (stopped)
            EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !children().count(stopped); }));
        WebPageProcess::resetLimits();
        EXPECT_TRUE(nextLoadWorks(stopped));
    }
}

// A process that works long on one command, well within its CPU bound, is busy, not stopped: a
// real-time bound far shorter than its work does not end it.
TEST_F(WebViewProcessTest, ABusyProcessIsNotTakenForOneThatStoppedAnswering) {
    std::string longPage;
    for (int i = 0; i < 50000; ++i) longPage += "<p>words of paragraph " + std::to_string(i) + "</p>";
    WebPageProcess::Limits limits;
    limits.unresponsiveSeconds = 0.2;
    WebPageProcess::setLimits(limits);
    ASSERT_TRUE(loadEnds(longPage, 60));
    EXPECT_EQ(events->finishes, 1);
    EXPECT_EQ(events->failures, 0) << events->domain << " " << events->code;
}

// Eight web views whose processes never paint: one rendering of their window waits a second in all,
// not a second for each.
TEST_F(WebViewProcessTest, ARenderingOfManyStalledViewsWaitsOneSecondInAll) {
    WebPageProcess::setProgramPath(WEB_PAGE_IMPOSTOR_PATH, {"no-pixels"});
    std::vector<Ref<UIWebView>> views;
    for (int i = 0; i < 8; ++i) {
        auto view = make<UIWebView>(CGRectMake(0, 50 * i, 320, 50));
        window->addSubview(view);
        view->setDelegate(events);
        view->loadHTMLString("<p>stalled</p>", nullptr);
        views.push_back(view);
    }
    events->clear();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return events->finishes == 8; }, 20));
    for (int round = 0; round < 2; ++round) {
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_TRUE(UIWindowRenderer::imageOfView(window, 1));
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_LT(took, 3.0) << "round " << round;
    }
    for (auto& view : views) view->removeFromSuperview();
}

// The spare killed in the very turn a page is given: the page never began in it, so it is read in
// a new process and finishes as if nothing happened.
TEST_F(WebViewProcessTest, ASpareThatDiesAsTheLoadBeginsIsReplacedUnseen) {
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        freshWebView();
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([] {
            return WebPageProcess::spareProcessID() != 0 &&
                   children().count(WebPageProcess::spareProcessID());
        }));
        const int spare = WebPageProcess::spareProcessID();
        events->clear();
        web->loadHTMLString("<p>after the spare</p>", NSURL::URLWithString(server.url("/")));
        ASSERT_EQ(::kill(spare, SIGKILL), 0);
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return events->ends() > 0; }, 20));
        testsupport::pumpMainRunLoop(0.2);
        EXPECT_EQ(events->failures, 0) << events->domain << " " << events->code;
        EXPECT_EQ(events->finishes, 1);
        EXPECT_EQ(web->shownText(), "after the spare");
        EXPECT_NE(web->pageProcessID(), 0);
        EXPECT_NE(web->pageProcessID(), spare);
    }
    // A program that dies on every page is given a second chance once, then the load fails once.
    WebPageProcess::setProgramPath(WEB_PAGE_IMPOSTOR_PATH, {"crash"});
    freshWebView();
    ASSERT_TRUE(loadEnds("<p>crashes</p>"));
    EXPECT_TRUE(failedOnceWith(UIWebViewPageProcessErrorCrashed));
}

// What the page's process says is under a tap is checked: a script link is no link (no script runs
// here), whether the page wrote it or the process made it up; an ordinary one is asked about.
TEST_F(WebViewProcessTest, AScriptLinkFromThePageOrItsProcessDoesNothing) {
    struct Row {
        const char* name;
        const char* mode;  // the impostor's argument; empty: the program
        std::string page;
        bool asked;
    };
    const std::string block = "style=\"display:block;height:300px\"";
    const Row rows[] = {
        {"a script link on the page", "", "<a href=\"javascript:alert(document.cookie)\" " + block + ">x</a>",
         false},
        {"a script link made up", "script-link", "<p>plain</p>", false},
        {"an ordinary link", "", "<a href=\"/page\" " + block + ">x</a>", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (*row.mode)
            WebPageProcess::setProgramPath(WEB_PAGE_IMPOSTOR_PATH, {row.mode});
        else
            WebPageProcess::resetProgramPath();
        freshWebView();
        ASSERT_TRUE(loadEnds(row.page));
        ASSERT_EQ(events->finishes, 1);
        events->clear();
        UITestDriver::tapAt(web, CGPointMake(40, 40));
        testsupport::pumpMainRunLoopUntil([&] { return events->starts > 0; }, 1);
        EXPECT_EQ(events->asked > 0, row.asked);
        EXPECT_EQ(events->starts > 0, row.asked);
        if (row.asked) EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return events->ends() > 0; }));
    }
}

// A page that says it waits for stylesheets but names none is laid out at once, not left waiting.
TEST_F(WebViewProcessTest, APageWaitingForNoStylesheetIsLaidOutAtOnce) {
    WebPageProcess::setProgramPath(WEB_PAGE_IMPOSTOR_PATH, {"waits-for-nothing"});
    freshWebView();
    ASSERT_TRUE(loadEnds("<p>no sheets</p>"));
    EXPECT_EQ(events->finishes, 1);
    EXPECT_EQ(events->failures, 0);
    EXPECT_EQ(web->pageRelayouts(), 1);
}

// A page is laid out once its stylesheets are in, not before and again after; pictures in boxes the
// page fixes are painted in as they come, with no layout of their own.
TEST_F(WebViewProcessTest, APageIsLaidOutOnceAndFixedPicturesOnlyPainted) {
    server.setReply("/sheet.css", ScriptedReply::text("img{width:10px;height:10px}", 200, "text/css"));
    const std::string small = pngOf(UIColor::colorWithRed(0, 0.5, 1, 1), 4, 4);
    ScriptedReply picture = ScriptedReply::text(small, 200, "image/png");
    picture.headers.push_back({"Cache-Control", "no-store"});
    server.setDefaultHandler([&](const testsupport::RecordedRequest&) { return picture; });
    std::string fixed, unsized;
    for (int i = 0; i < 60; ++i) {
        fixed += "<img src=\"f" + std::to_string(i) + ".png\">";
        unsized += "<img src=\"u" + std::to_string(i) + ".png\" style=\"width:auto;height:auto\">";
    }
    struct Row {
        const char* name;
        std::string page;
        int most, least;  // layouts after the page was handed over
    };
    const Row rows[] = {
        {"a linked sheet", "<link rel=\"stylesheet\" href=\"sheet.css\"><p>text</p>", 1, 1},
        {"a linked sheet and fixed pictures", "<link rel=\"stylesheet\" href=\"sheet.css\">" + fixed, 1, 1},
        {"fixed pictures", "<style>img{width:10px;height:10px}</style>" + fixed, 0, 0},
        {"pictures sized by themselves", unsized, 60, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        freshWebView();
        ASSERT_TRUE(loadEnds(row.page));
        EXPECT_EQ(events->finishes, 1);
        EXPECT_LE(web->pageRelayouts(), row.most);
        EXPECT_GE(web->pageRelayouts(), row.least);
    }
}

}  // namespace

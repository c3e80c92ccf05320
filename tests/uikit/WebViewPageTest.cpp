// Web view pages as a window renders them: pictures from a loopback host at their CSS size,
// stylesheets over http, from files and inline, the canvas, failed pictures keeping their box,
// hostile pages and servers (deep and huge pages, silent, trickling and endless replies, huge
// pictures, many pictures), when the page finishes, new widths, and link taps.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "graphics/CGImageSource.h"
#include "graphics/UIColor.h"
#include "tests/support/HostileHTTPServer.h"
#include "tests/support/ImageHost.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "tests/uikit/WebViewTestSupport.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using controlstest::PixelReader;
using controlstest::RGBA;
using testsupport::HostedPicture;
using testsupport::HostileHTTPServer;
using testsupport::ImageHost;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

using Clock = std::chrono::steady_clock;

class PageLog : public NSObject, public UIWebViewDelegate {
  public:
    int finishes = 0;
    int failures = 0;
    std::vector<std::string> asked;  // "<type> <url>"
    bool allow = true;
    CGSize sizeAtFinish{};
    std::function<void(UIWebView&)> onFinish;
    std::optional<bool> webViewShouldStartLoadWithRequest(UIWebView&, const Ref<NSURLRequest>& request,
                                                          UIWebViewNavigationType type) override {
        asked.push_back(std::to_string(type) + " " + request->URL()->absoluteString());
        return allow;
    }
    void webViewDidFinishLoad(UIWebView& view) override {
        ++finishes;
        sizeAtFinish = view.scrollView()->contentSize();
        if (onFinish) onFinish(view);
    }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { ++failures; }
};

// A PNG of one colour.
std::string solidPNG(int r, int g, int b, int width, int height) {
    auto image = controlstest::solidImage(UIColor::colorWithRed(r / 255.0, g / 255.0, b / 255.0, 1),
                                          CGSizeMake(width, height), 1);
    auto data = UIImagePNGRepresentation(image);
    return data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length()) : std::string();
}

std::uint32_t crc32Of(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG whose header says width x height, with a token of pixel data: what a hostile server
// sends to make a client allocate gigabytes.
std::string pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    auto chunk = [&](const std::string& type, const std::string& body) {
        return be32(std::uint32_t(body.size())) + type + body + be32(crc32Of(type + body));
    };
    std::string ihdr = be32(width) + be32(height) + std::string{8, 2, 0, 0, 0};
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)) + chunk("IEND", "");
}

class WebPageTest : public uikittest::WebViewStageTest {
  protected:
    void SetUp() override {
        WebViewStageTest::SetUp();
        window->setBackgroundColor(UIColor::colorWithRed(0, 200 / 255.0, 0, 1));
        log = make<PageLog>();
        web->setDelegate(log);
    }
    void setLimits(const std::function<void(UIWebView::ResourceLimits&)>& change) {
        auto limits = UIWebView::resourceLimits();
        change(limits);
        UIWebView::setResourceLimits(limits);
    }
    // Loads the page and waits (real time) until it has finished or failed.
    bool load(const std::string& html, const Ref<NSURL>& base = nullptr, double seconds = 10) {
        log->finishes = log->failures = 0;
        web->loadHTMLString(html, base);
        return testsupport::pumpMainRunLoopUntil([&] { return log->finishes + log->failures > 0; }, seconds);
    }
    Ref<UIImage> render(CGFloat scale = 1) {
        testsupport::drainMainRunLoop();
        return UIWindowRenderer::imageOfView(window, scale);
    }
    // The bounding box of the pixels inside the web view that pass, in pixels; empty when none
    // does.
    CGRect boxOf(const Ref<UIImage>& image, const std::function<bool(RGBA)>& pass) const {
        PixelReader pixels(image);
        const double scale = double(image->CGImage()->width()) / window->bounds().size.width;
        const int w = int(CGRectGetMaxX(web->frame()) * scale), h = int(CGRectGetMaxY(web->frame()) * scale);
        int x0 = w, y0 = h, x1 = -1, y1 = -1;
        for (int y = int(web->frame().origin.y * scale); y < h; ++y)
            for (int x = int(web->frame().origin.x * scale); x < w; ++x)
                if (pass(pixels.at(x, y))) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
        if (x1 < 0) return CGRectZero;
        return CGRectMake(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    }
    static std::function<bool(RGBA)> near(int r, int g, int b, int tolerance = 12) {
        return [=](RGBA p) {
            return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
                   std::abs(p.b - b) <= tolerance;
        };
    }
    Ref<PageLog> log;
};

// ---- pictures --------------------------------------------------------------------------------------

TEST_F(WebPageTest, PicturesDrawAtTheirCSSSize) {
    ImageHost host;
    host.setPicture("/p.png", solidPNG(0, 128, 255, 200, 100));
    struct Case {
        std::string markup;
        CGFloat width, height;
    };
    const std::string src = "src=\"" + host.url("/p.png") + "\"";
    for (const Case& c :
         {Case{"<img " + src + ">", 200, 100}, Case{"<img " + src + " style=\"width:50px\">", 50, 25},
          Case{"<img " + src + " width=\"80\" height=\"30\">", 80, 30},
          Case{"<style>img{max-width:100px}</style><img " + src + ">", 100, 50}}) {
        ASSERT_TRUE(load("<html><body style=\"margin:0\">" + c.markup + "</body></html>")) << c.markup;
        EXPECT_EQ(log->finishes, 1) << c.markup;
        EXPECT_TRUE(
            uikittest::rectNear(boxOf(render(), near(0, 128, 255)), CGRectMake(0, 0, c.width, c.height), 1))
            << c.markup;
    }
    // At the screen's scale the picture covers twice the pixels.
    EXPECT_TRUE(uikittest::rectNear(boxOf(render(2), near(0, 128, 255)), CGRectMake(0, 0, 200, 100), 2));
    // One fetch per page; the same address twice on a page is fetched once.
    ASSERT_TRUE(load("<body><img " + src + "><img " + src + "></body>"));
    EXPECT_EQ(host.requestCount("/p.png"), 5);
}

// A folder made the app's bundle while alive: local pages read files only from there.
class BundleFolder {
  public:
    BundleFolder() { NSBundle::setMainBundlePath(dir.path()); }
    ~BundleFolder() { foundation_testing::resetBundles(); }
    BundleFolder(const BundleFolder&) = delete;
    BundleFolder& operator=(const BundleFolder&) = delete;
    const std::string& path() const { return dir.path(); }

  private:
    testsupport::TemporaryDirectory dir;
};

TEST_F(WebPageTest, PicturesFromFilesAndRelativeAddresses) {
    BundleFolder dir;
    const std::string bytes = solidPNG(200, 0, 200, 40, 30);
    {
        FILE* f = std::fopen((dir.path() + "/pic.png").c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    ASSERT_TRUE(load("<body style=\"margin:0\"><img src=\"pic.png\"></body>",
                     NSURL::fileURLWithPath(dir.path() + "/")));
    EXPECT_TRUE(uikittest::rectNear(boxOf(render(), near(200, 0, 200)), CGRectMake(0, 0, 40, 30), 1));
    // Without a base a relative address is not asked for: the page finishes with an empty box.
    ASSERT_TRUE(load("<body style=\"margin:0\"><img src=\"pic.png\"></body>"));
    EXPECT_TRUE(CGRectIsEmpty(boxOf(render(), near(200, 0, 200))));
}

// ---- stylesheets -------------------------------------------------------------------------------------

TEST_F(WebPageTest, StylesheetsApplyFromHTTPFilesAndTheirPage) {
    const std::string css = "#x{background:#00c800;width:60px;height:40px}";
    LoopbackHTTPServer server;
    server.setReply("/s.css", ScriptedReply::text(css, 200, "text/css"));
    server.setReply("/import.css", ScriptedReply::text("@import url(\"s.css\");", 200, "text/css"));
    server.setReply("/missing.css", ScriptedReply::text(css, 404, "text/css"));
    BundleFolder dir;
    const std::string file = dir.path() + "/s.css";
    {
        FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fputs(css.c_str(), f);
        std::fclose(f);
    }
    struct Case {
        std::string head;
        bool applies;
    };
    for (const Case& c :
         {Case{"<link rel=\"stylesheet\" href=\"" + server.url("/s.css") + "\">", true},
          Case{"<link rel=\"stylesheet\" href=\"" + NSURL::fileURLWithPath(file)->absoluteString() + "\">",
               true},
          Case{"<style>" + css + "</style>", true},
          Case{"<link rel=\"stylesheet\" href=\"" + server.url("/import.css") + "\">", true},
          // An error page is no stylesheet, whatever it says.
          Case{"<link rel=\"stylesheet\" href=\"" + server.url("/missing.css") + "\">", false},
          Case{"<link rel=\"alternate\" href=\"" + server.url("/s.css") + "\">", false}}) {
        ASSERT_TRUE(load("<html><head>" + c.head +
                         "</head><body style=\"margin:0\"><div id=\"x\"></div></body></html>"))
            << c.head;
        EXPECT_EQ(log->finishes, 1);
        CGRect box = boxOf(render(), near(0, 200, 0, 4));
        if (c.applies) {
            EXPECT_TRUE(uikittest::rectNear(box, CGRectMake(0, 0, 60, 40), 1)) << c.head;
        } else {
            EXPECT_TRUE(CGRectIsEmpty(box) || CGRectIsNull(box)) << c.head;
        }
    }
}

TEST_F(WebPageTest, ALinkedStylesheetColoursText) {
    LoopbackHTTPServer server;
    server.setReply("/text.css", ScriptedReply::text("p{color:#0000ff;font-size:40px}", 200, "text/css"));
    int blue = 0;
    for (bool linked : {false, true}) {
        std::string head = linked ? "<link rel=\"stylesheet\" href=\"" + server.url("/text.css") + "\">" : "";
        ASSERT_TRUE(load("<html><head>" + head + "</head><body><p>MMMM</p></body></html>"));
        PixelReader pixels(render());
        int count = 0;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 320; ++x) {
                RGBA p = pixels.at(x, y);
                if (p.b > 200 && p.r < 60 && p.g < 60) ++count;
            }
        if (!linked) {
            EXPECT_EQ(count, 0);
        }
        blue = count;
    }
    EXPECT_GT(blue, 200);
}

// ---- the canvas --------------------------------------------------------------------------------------

TEST_F(WebPageTest, TheCanvasIsWhiteUnlessThePageOrAClearViewSaysOtherwise) {
    struct Case {
        std::string page;
        bool opaque;
        Ref<UIColor> background;
        RGBA expected;  // below the page's text
    };
    const std::string plain = "<p>text</p>";
    for (const Case& c : {Case{plain, true, UIColor::redColor(), {255, 255, 255, 255}},
                          Case{plain, true, UIColor::clearColor(), {255, 255, 255, 255}},
                          Case{"<html style=\"background:#0000c8\"><p>text</p></html>",
                               true,
                               UIColor::redColor(),
                               {0, 0, 200, 255}},
                          Case{"<body style=\"background:#0000c8\"><p>text</p></body>",
                               false,
                               UIColor::clearColor(),
                               {0, 0, 200, 255}},
                          // Not opaque: the view's own colour, or what is behind it, shows.
                          Case{plain, false, UIColor::clearColor(), {0, 200, 0, 255}},
                          Case{plain, false, UIColor::redColor(), {255, 0, 0, 255}}}) {
        web->setOpaque(c.opaque);
        web->setBackgroundColor(c.background);
        ASSERT_TRUE(load(c.page));
        auto image = render();
        EXPECT_TRUE(controlstest::colorNear(controlstest::pixelAt(image, 300, 390), c.expected)) << c.page;
        EXPECT_TRUE(controlstest::colorNear(controlstest::pixelAt(image, 5, 200), c.expected)) << c.page;
    }
}

// ---- failures ----------------------------------------------------------------------------------------

TEST_F(WebPageTest, AFailedPictureKeepsItsBoxAndThePageFinishesOnce) {
    ImageHost host;
    const std::string good = solidPNG(0, 128, 255, 120, 90);
    host.setPicture("/good.png", good);
    host.setPicture("/missing.png", good);
    host.setStatus("/missing.png", 404);
    host.setPicture("/text.png", "this is not a picture", "image/png");
    host.setPicture("/cut.png", good);
    host.setTruncateAt("/cut.png", good.size() / 2);
    host.setPicture("/empty.png", "", "image/png");
    int closedPort;
    {
        LoopbackHTTPServer gone;
        closedPort = gone.port();
    }
    auto page = [](const std::string& src) {
        return "<body style=\"margin:0\"><img src=\"" + src +
               "\" width=\"120\" height=\"90\"><div style=\"background:#c80000;height:10px\"></div></body>";
    };
    auto barTop = [&] { return boxOf(render(), near(200, 0, 0)).origin.y; };
    ASSERT_TRUE(load(page(host.url("/good.png"))));
    const CGFloat expectedTop = barTop();
    EXPECT_GE(expectedTop, 90);
    for (const std::string& src :
         {host.url("/missing.png"), host.url("/text.png"), host.url("/cut.png"), host.url("/empty.png"),
          "http://127.0.0.1:" + std::to_string(closedPort) + "/x.png", std::string("ftp://127.0.0.1/x.png"),
          std::string("data:image/png;base64,AAAA")}) {
        ASSERT_TRUE(load(page(src))) << src;
        testsupport::pumpMainRunLoop(0.05);
        EXPECT_EQ(log->finishes, 1) << src;
        EXPECT_EQ(log->failures, 0) << src;
        EXPECT_DOUBLE_EQ(barTop(), expectedTop) << src;
        EXPECT_TRUE(CGRectIsEmpty(boxOf(render(), near(0, 128, 255)))) << src;
    }
}

// ---- hostile pages -----------------------------------------------------------------------------------

TEST_F(WebPageTest, MalformedDeepAndHugePagesFinish) {
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "<div>";
    deep += "deep";
    std::string huge;
    huge.reserve(10u << 20);
    while (huge.size() < (10u << 20)) huge += "<p>改装 text &amp; more <b>bold</b></p>\n";
    for (const std::string& page :
         {std::string("<"), std::string("<html><body><p><b>unclosed"),
          std::string("</html></body><body><html>"), std::string("<<<>>><!-- never ends"),
          std::string("<table><tr><td><table><td>"),
          std::string("<img src=><a href=>x</a><style>p{color:</style>"),
          std::string("\xff\xfe\0"
                      "bad",
                      6),
          deep, huge}) {
        ASSERT_TRUE(load(page, nullptr, 120)) << page.substr(0, 40);
        EXPECT_EQ(log->finishes, 1);
        EXPECT_GE(web->scrollView()->contentSize().height, 1);
        (void)render();
    }
}

TEST_F(WebPageTest, AnEndlessPageShowsWhatCameUpToItsCap) {
    setLimits([](UIWebView::ResourceLimits& l) { l.maxDocumentBytes = 256 * 1024; });
    HostileHTTPServer server(HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Type: text/html"));
    log->finishes = 0;
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/page"))));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log->finishes + log->failures > 0; }, 20));
    EXPECT_EQ(log->finishes, 1);
    EXPECT_EQ(web->shownData().length(), 256u * 1024);
}

TEST_F(WebPageTest, SilentTricklingAndEndlessSubresourcesEndOnTheirBounds) {
    LoopbackHTTPServer silent;
    ScriptedReply never = ScriptedReply::text("", 200, "image/png");
    never.delayBeforeHeaders = 60;
    silent.setReply("/never.png", never);
    ImageHost host;
    host.setPicture("/slow.png", solidPNG(10, 20, 30, 300, 300));
    host.setTrickle("/slow.png", 16, 0.2);  // under the silence time-out, past the deadline
    HostileHTTPServer endlessPicture(
        HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Type: image/png"));
    HostileHTTPServer endlessSheet(HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Type: text/css"));
    struct Case {
        std::string markup;
        double atLeast, atMost;  // seconds until the page finishes
    };
    for (const Case& c :
         {Case{"<img src=\"" + silent.url("/never.png") + "\" width=\"10\" height=\"10\">", 0.4, 5},
          Case{"<img src=\"" + host.url("/slow.png") + "\">", 1.5, 6},
          Case{"<img src=\"" + endlessPicture.url("/p.png") + "\">", 0, 10},
          Case{"<link rel=\"stylesheet\" href=\"" + endlessSheet.url("/s.css") + "\"><p>styled</p>", 0,
               10}}) {
        const auto begin = Clock::now();
        ASSERT_TRUE(load(c.markup, nullptr, 20)) << c.markup;
        const double took = std::chrono::duration<double>(Clock::now() - begin).count();
        EXPECT_EQ(log->finishes, 1) << c.markup;
        EXPECT_GE(took, c.atLeast) << c.markup;
        EXPECT_LE(took, c.atMost) << c.markup;
        EXPECT_FALSE(web->isLoading());
    }
}

TEST_F(WebPageTest, EndlessBodiesStopAtTheByteCapsNotTheDeadline) {
    setLimits([](UIWebView::ResourceLimits& l) {
        l.deadlineSeconds = 60;
        l.maxImageBytes = 512 * 1024;
        l.maxStylesheetBytes = 64 * 1024;
    });
    HostileHTTPServer endlessPicture(
        HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Type: image/png"));
    HostileHTTPServer endlessSheet(HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Type: text/css"));
    ASSERT_TRUE(load("<link rel=\"stylesheet\" href=\"" + endlessSheet.url("/s.css") + "\"><img src=\"" +
                         endlessPicture.url("/p.png") + "\">",
                     nullptr, 20));
    EXPECT_EQ(log->finishes, 1);
}

TEST_F(WebPageTest, HugePicturesAreNeverDecodedAtFullSize) {
    ImageHost host;
    host.setPicture("/huge.png", pngHeaderOnly(30000, 30000), "image/png");
    ASSERT_TRUE(
        load("<body style=\"margin:0\"><img src=\"" + host.url("/huge.png") +
             "\" width=\"50\" height=\"40\"><div style=\"background:#c80000;height:10px\"></div></body>"));
    EXPECT_EQ(log->finishes, 1);
    EXPECT_EQ(host.requestCount("/huge.png"), 1);
    EXPECT_GE(boxOf(render(), near(200, 0, 0)).origin.y, 40);

    // The decoder's bounds, straight: past the pixel bound a picture is refused, except a JPEG,
    // which is read at an eighth; what is decoded is never longer than the decode bound.
    UIWebView::ResourceLimits limits;
    limits.maxImagePixels = 1'000'000;
    limits.maxDecodedSide = 512;
    struct Case {
        std::string bytes;
        std::optional<CGSize> decoded;
    };
    for (const Case& c : {Case{solidPNG(1, 2, 3, 400, 300), CGSizeMake(400, 300)},
                          Case{solidPNG(1, 2, 3, 1200, 600), CGSizeMake(512, 256)},
                          Case{solidPNG(1, 2, 3, 1200, 1000), std::nullopt},
                          Case{ImageHost::jpegPicture(1600, 1200, 3), CGSizeMake(512, 384)},
                          Case{ImageHost::gifPicture(50, 40, 3, 10), CGSizeMake(50, 40)},
                          Case{pngHeaderOnly(30000, 30000), std::nullopt},
                          Case{"not a picture", std::nullopt}, Case{"", std::nullopt}}) {
        NSData data(c.bytes.data(), c.bytes.size());
        Ref<CGImage> image = detail::decodeWebPicture(data, limits);
        ASSERT_EQ(image != nullptr, c.decoded.has_value()) << c.bytes.size();
        if (!image) continue;
        EXPECT_EQ(image->width(), std::size_t(c.decoded->width));
        EXPECT_EQ(image->height(), std::size_t(c.decoded->height));
    }
}

TEST_F(WebPageTest, ManyPicturesAreFetchedAFewAtATimeAndUpToTheirBytesInAll) {
    const std::string picture = solidPNG(9, 9, 9, 4, 4);
    setLimits([&](UIWebView::ResourceLimits& l) {
        l.maxPictureBytesInAll = 24 * picture.size();
        l.maxConcurrent = 3;
    });
    LoopbackHTTPServer server;
    std::atomic<int> inFlight{0}, most{0};
    server.setDefaultHandler([&](const testsupport::RecordedRequest&) {
        int now = ++inFlight;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        // A slow picture server, so that fetches overlap if they may.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        --inFlight;
        return ScriptedReply::text(picture, 200, "image/png");
    });
    std::string page;
    for (int i = 0; i < 300; ++i)
        page += "<img src=\"" + server.url("/p" + std::to_string(i) + ".png") + "\">";
    ASSERT_TRUE(load(page, nullptr, 30));
    EXPECT_EQ(log->finishes, 1);
    // The bytes fill with the 24th; the fetches already running when it came still end.
    EXPECT_GE(server.requestCount(), 24u);
    EXPECT_LE(server.requestCount(), 24u + 3);
    EXPECT_LE(most.load(), 3);
    EXPECT_GE(most.load(), 2);
}

// ---- finishing, widths ---------------------------------------------------------------------------------

TEST_F(WebPageTest, ThePageFinishesOncePicturesAreInWithItsLaidOutSize) {
    ImageHost host;
    host.setPicture("/p.png", solidPNG(0, 128, 255, 200, 300));
    host.setDelay("/p.png", 0.3);
    bool pictureShownAtFinish = false;
    log->onFinish = [&](UIWebView&) {
        pictureShownAtFinish =
            !CGRectIsEmpty(boxOf(UIWindowRenderer::imageOfView(window, 1), near(0, 128, 255)));
    };
    log->finishes = 0;
    web->loadHTMLString(
        "<body style=\"margin:0\"><img src=\"" + host.url("/p.png") + "\"><p>after</p></body>", nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return web->isLoading(); }, 5));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log->finishes > 0; }, 10));
    EXPECT_TRUE(pictureShownAtFinish);
    EXPECT_EQ(host.requestCount("/p.png"), 1);
    EXPECT_DOUBLE_EQ(log->sizeAtFinish.width, 320);
    EXPECT_GT(log->sizeAtFinish.height, 300);
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(log->finishes, 1);
    EXPECT_EQ(web->finishedLoadCount(), 1);
}

TEST_F(WebPageTest, ANewWidthLaysThePageOutAgain) {
    std::string words;
    for (int i = 0; i < 200; ++i) words += "word ";
    ASSERT_TRUE(load("<p>" + words + "</p><div style=\"height:20px\"></div>"));
    const CGSize wide = web->scrollView()->contentSize();
    EXPECT_DOUBLE_EQ(wide.width, 320);
    web->setFrame(CGRectMake(0, 0, 160, 400));
    web->layoutIfNeeded();
    // The page's process lays it out again and answers on a later turn.
    EXPECT_TRUE(
        testsupport::pumpMainRunLoopUntil([&] { return web->scrollView()->contentSize().width == 160; }));
    const CGSize narrow = web->scrollView()->contentSize();
    EXPECT_DOUBLE_EQ(narrow.width, 160);
    EXPECT_GT(narrow.height, wide.height * 1.5);
    // A new height alone changes nothing.
    web->setFrame(CGRectMake(0, 0, 160, 300));
    web->layoutIfNeeded();
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().height, narrow.height);
    // A block of a fixed size gives its size plus the body's margins.
    ASSERT_TRUE(load("<div style=\"height:700px\"></div>"));
    EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().height, 716);
    EXPECT_DOUBLE_EQ(log->sizeAtFinish.height, 716);
}

// ---- links ---------------------------------------------------------------------------------------------

TEST_F(WebPageTest, ATappedLinkAsksTheDelegateAndLoadsOnlyIfAllowed) {
    LoopbackHTTPServer server;
    server.setReply("/next", ScriptedReply::text("<p>next page</p>", 200, "text/html"));
    const std::string page = "<body style=\"margin:0\"><a href=\"/next\" "
                             "style=\"display:block;height:60px;font-size:30px\">next</a>"
                             "<div style=\"height:300px\">not a link</div></body>";
    auto base = NSURL::URLWithString(server.url("/start"));
    ASSERT_TRUE(load(page, base));
    const std::string linkAsked = "0 " + server.url("/next");

    // Not a link: nothing is asked.
    log->asked.clear();
    UITestDriver::tapAt(web, CGPointMake(20, 200));
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(log->asked.empty());
    EXPECT_EQ(web->contentTapCount(), 1);

    // Refused: the page stays and nothing is fetched.
    log->allow = false;
    UITestDriver::tapAt(web, CGPointMake(20, 20));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(log->asked, std::vector<std::string>{linkAsked});
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(web->shownHTML(), page);

    // Allowed: the link loads.
    log->allow = true;
    log->asked.clear();
    log->finishes = 0;
    UITestDriver::tapAt(web, CGPointMake(20, 20));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log->finishes > 0; }, 10));
    EXPECT_EQ(log->asked, std::vector<std::string>{linkAsked});
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(web->shownText(), "next page");
    EXPECT_TRUE(web->canGoBack() == false);  // the first page was a string, not a request
}

}  // namespace

// Web view pages and stylesheets in the encodings they declare: a GBK page naming its charset only
// in a <meta>, over http and from a file; a UTF-16 page with a byte-order mark; stylesheets whose
// selectors only match when they are decoded by their @charset, their reply or their page.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/WebViewTestSupport.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using namespace std::string_literals;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

// 改装 in GBK.
const std::string kGBKWord = "\xB8\xC4\xD7\xB0"s;

NSData dataOf(const std::string& bytes) {
    return NSData(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

class FinishLog : public NSObject, public UIWebViewDelegate {
  public:
    int ended = 0;
    void webViewDidFinishLoad(UIWebView&) override { ++ended; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { ++ended; }
};

class WebViewEncodingTest : public uikittest::WebViewStageTest {
  protected:
    void SetUp() override {
        WebViewStageTest::SetUp();
        log = make<FinishLog>();
        web->setDelegate(log);
    }
    bool waitForEnd(const std::function<void()>& load) {
        log->ended = 0;
        load();
        return testsupport::pumpMainRunLoopUntil([&] { return log->ended > 0; }, 10);
    }
    // Pixels of the colour the test stylesheets paint.
    int greenPixels() {
        testsupport::drainMainRunLoop();
        controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
        int count = 0;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 320; ++x) {
                auto p = pixels.at(x, y);
                if (p.g > 180 && p.r < 30 && p.b < 30) ++count;
            }
        return count;
    }
    Ref<FinishLog> log;
};

TEST_F(WebViewEncodingTest, AGBKPageDeclaredOnlyByItsMetaShowsItsText) {
    const std::string page =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\"></head>"
        "<body><p>" +
        kGBKWord + "</p></body></html>";
    LoopbackHTTPServer server;
    server.setReply("/gbk", ScriptedReply::text(page, 200, "text/html"));
    ASSERT_TRUE(waitForEnd(
        [&] { web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/gbk")))); }));
    EXPECT_EQ(web->shownText(), "改装");
    EXPECT_NE(web->shownHTML().find("<p>改装</p>"), std::string::npos);
    EXPECT_EQ(web->shownData(), dataOf(page));

    // From a file there is no transport at all: the meta decides again.
    testsupport::TemporaryDirectory dir;
    const std::string file = dir.path() + "/gbk.html";
    FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(page.data(), 1, page.size(), f);
    std::fclose(f);
    ASSERT_TRUE(
        waitForEnd([&] { web->loadRequest(NSURLRequest::requestWithURL(NSURL::fileURLWithPath(file))); }));
    EXPECT_EQ(web->shownText(), "改装");

    // The reply's charset outranks the page's: these bytes are not UTF-8.
    server.setReply("/gbk", ScriptedReply::text(page, 200, "text/html; charset=utf-8"));
    ASSERT_TRUE(waitForEnd(
        [&] { web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/gbk")))); }));
    EXPECT_EQ(web->shownText().find("改装"), std::string::npos);
    EXPECT_NE(web->shownText().find("\xEF\xBF\xBD"), std::string::npos);
}

TEST_F(WebViewEncodingTest, AUTF16PageWithAMarkGivenAsData) {
    // "<p>改装</p>" in UTF-16LE after its mark; the mark outranks a wrong name.
    const std::string page = "\xFF\xFE<\0p\0>\0\x39\x65\xC5\x88<\0/\0p\0>\0"s;
    for (const std::optional<std::string>& name :
         {std::optional<std::string>(), std::optional<std::string>("gbk")}) {
        ASSERT_TRUE(
            waitForEnd([&] { web->loadData(dataOf(page), std::string("text/html"), name, nullptr); }));
        EXPECT_EQ(web->shownHTML(), "<p>改装</p>") << name.value_or("none");
        EXPECT_EQ(web->shownText(), "改装");
    }
    // Plain text is not searched for declarations.
    ASSERT_TRUE(waitForEnd([&] {
        web->loadData(dataOf("<meta charset=gbk>" + kGBKWord), std::string("text/plain"), std::nullopt,
                      nullptr);
    }));
    EXPECT_EQ(web->shownHTML().rfind("<meta charset=gbk>\xEF\xBF\xBD", 0), 0u);
    EXPECT_EQ(web->shownHTML().find("改"), std::string::npos);
}

TEST_F(WebViewEncodingTest, StylesheetsAreDecodedByTheirDeclarationTheirReplyOrTheirPage) {
    // The rule's selector is a Chinese class name: it matches the page's only when both sides
    // were decoded alike.
    const std::string rule = "." + kGBKWord + "{background:#00c800;width:60px;height:40px}";
    LoopbackHTTPServer server;
    server.setReply("/declared.css", ScriptedReply::text("@charset \"gbk\";" + rule, 200, "text/css"));
    server.setReply("/replied.css", ScriptedReply::text(rule, 200, "text/css; charset=GBK"));
    server.setReply("/bare.css", ScriptedReply::text(rule, 200, "text/css"));
    struct Case {
        const char* what;
        std::string sheet;
        bool gbkPage;
        bool applies;
    };
    for (const Case& c : {Case{"@charset", "/declared.css", false, true},
                          Case{"the reply's charset", "/replied.css", false, true},
                          Case{"the page's encoding", "/bare.css", true, true},
                          Case{"nothing says GBK", "/bare.css", false, false}}) {
        const std::string head = (c.gbkPage ? "<meta charset=\"gbk\">" : "") +
                                 "<link rel=\"stylesheet\" href=\""s + server.url(c.sheet) + "\">";
        const std::string word = c.gbkPage ? kGBKWord : "改装";
        const std::string page = "<html><head>" + head + "</head><body style=\"margin:0\"><div class=\"" +
                                 word + "\"></div></body></html>";
        ASSERT_TRUE(waitForEnd([&] {
            web->loadData(dataOf(page), std::string("text/html"), std::nullopt,
                          NSURL::URLWithString(server.url("/")));
        })) << c.what;
        const int green = greenPixels();
        if (c.applies) {
            EXPECT_GE(green, 60 * 40 * 9 / 10) << c.what;
        } else {
            EXPECT_EQ(green, 0) << c.what;
        }
    }
}

}  // namespace

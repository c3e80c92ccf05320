// Pages through the web view and its page's process, as a user would meet them: shapes built to
// hold a page's process for seconds or gigabytes end as ordinary loads (finished, the page shown,
// the process alive), and what ordinary pages use shows (pictures in data: URLs, a word longer
// than its line).

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <string>

#include "foundation/NSData+Base64.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "tests/graphics/HostilePictures.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/WebViewTestSupport.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

class Ends : public NSObject, public UIWebViewDelegate {
  public:
    int finishes = 0, failures = 0;
    void webViewDidFinishLoad(UIWebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { ++failures; }
};

std::string pngOf(int r, int g, int b, int side) {
    auto image = controlstest::solidImage(UIColor::colorWithRed(r / 255.0, g / 255.0, b / 255.0, 1),
                                          CGSizeMake(side, side), 1);
    auto data = UIImagePNGRepresentation(image);
    return data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length()) : std::string();
}

std::string percentEncoded(const std::string& bytes) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string base64Of(const std::string& bytes) {
    return NSData_Base64::base64EncodedString(std::string_view(bytes));
}

// Pixels of the web view within `tolerance` of the colour, in the view's top `rows` rows.
int pixelsOf(const Ref<UIWindow>& window, int r, int g, int b, int rows = 400, int tolerance = 10) {
    controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
    int count = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 320; ++x) {
            auto p = pixels.at(x, y);
            if (std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
                std::abs(p.b - b) <= tolerance)
                ++count;
        }
    return count;
}

class WebViewPageShapesTest : public uikittest::WebViewStageTest {
  protected:
    void SetUp() override {
        WebViewStageTest::SetUp();
        ends = make<Ends>();
        web->setDelegate(ends);
    }
    // Loads the page against the server and runs the loop until the load ends.
    testing::AssertionResult finishes(const std::string& html, double seconds = 60) {
        ends->finishes = ends->failures = 0;
        web->loadHTMLString(html, NSURL::URLWithString(server.url("/")));
        if (!testsupport::pumpMainRunLoopUntil([&] { return ends->finishes + ends->failures > 0; }, seconds))
            return testing::AssertionFailure() << "the load never ended";
        testsupport::pumpMainRunLoop(0.1);
        if (ends->finishes != 1 || ends->failures != 0)
            return testing::AssertionFailure()
                   << ends->finishes << " finishes, " << ends->failures << " failures";
        if (web->pageProcessID() == 0) return testing::AssertionFailure() << "the page's process was ended";
        return testing::AssertionSuccess();
    }
    Ref<Ends> ends;
    LoopbackHTTPServer server;
};

// Each shape once held a page for tens of seconds or gigabytes; each now loads as any page does,
// and the text after it shows.
TEST_F(WebViewPageShapesTest, ShapesBuiltToHoldThePageEndAsOrdinaryLoads) {
    const std::string marker = "<p style=\"margin:0;background:#c80000;height:12px\"></p>";
    struct Row {
        const char* name;
        std::function<std::string()> page;
    };
    const Row rows[] = {
        {"twenty rules of :not() nested 160 deep over 3,000 paragraphs",
         [&] {
             std::string page = "<style>";
             for (int r = 0; r < 20; ++r) {
                 std::string selector = "p.c" + std::to_string(r);
                 for (int d = 0; d < 160; ++d) selector = ":not(" + selector + ")";
                 page += selector + "{color:#123456}";
             }
             page += "</style><body style=\"margin:0\">" + marker;
             for (int i = 0; i < 3000; ++i) page += "<p class=\"c" + std::to_string(i % 20) + "\">x</p>";
             return page;
         }},
        {"40 elements of 5,000 classes under 19,000 class rules",
         [&] {
             std::string page = "<style>";
             for (int r = 0; r < 19000; ++r) page += ".k" + std::to_string(r) + "{color:#010203}";
             page += "</style><body style=\"margin:0\">" + marker;
             std::string classes;
             for (int c = 0; c < 5000; ++c) classes += " k" + std::to_string(c * 3);
             for (int i = 0; i < 40; ++i) page += "<div class=\"" + classes + "\">x</div>";
             return page;
         }},
        {"custom properties each a var() of the one before, 30 deep",
         [&] {
             std::string page =
                 "<style>:root,body{--v0:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa;";
             for (int i = 1; i <= 30; ++i)
                 page += "--v" + std::to_string(i) + ":var(--v" + std::to_string(i - 1) + ") var(--v" +
                         std::to_string(i - 1) + ");";
             page += "}p{font-family:var(--v30)}</style><body style=\"margin:0\">" + marker;
             for (int i = 0; i < 200; ++i) page += "<p>x</p>";
             return page;
         }},
        {"a GIF of 1.1 million one-pixel frames",
         [&] {
             server.setReply("/frames.gif",
                             ScriptedReply::text(hostile::millionFrameGIF(), 200, "image/gif"));
             return "<body style=\"margin:0\">" + marker +
                    "<img src=\"frames.gif\" width=\"20\" height=\"20\">";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(finishes(row.page()));
        EXPECT_GT(pixelsOf(window, 200, 0, 0, 12), 320 * 10) << "the page above the shape shows";
    }
}

// A JPEG carrying 220 EXIF segments of 64 KB reads its header at once and lays out at its size.
TEST_F(WebViewPageShapesTest, APhotoStuffedWithMetadataShowsAtItsSize) {
    server.setReply("/stuffed.jpg", ScriptedReply::text(hostile::exifStuffedJPEG(220), 200, "image/jpeg"));
    ASSERT_TRUE(finishes("<body style=\"margin:0\"><img style=\"display:block\" src=\"stuffed.jpg\">"
                         "<p style=\"margin:0;height:10px\"></p>"));
    EXPECT_GE(web->scrollView()->contentSize().height, 480 + 10);
}

// Pictures in data: URLs show, base64 and percent-encoded, as <img> and as CSS backgrounds.
TEST_F(WebViewPageShapesTest, PicturesInDataURLsShow) {
    const std::string blue = pngOf(0, 0, 255, 8), green = pngOf(0, 200, 0, 8);
    struct Row {
        const char* name;
        std::string page;
        int r, g, b;
    };
    const Row rows[] = {
        {"img, base64",
         "<img style=\"display:block\" width=\"320\" height=\"100\" src=\"data:image/png;base64," +
             base64Of(blue) + "\">",
         0, 0, 255},
        {"img, percent-encoded",
         "<img style=\"display:block\" width=\"320\" height=\"100\" src=\"data:image/png," +
             percentEncoded(green) + "\">",
         0, 200, 0},
        {"CSS background, base64",
         "<div style=\"height:100px;background:url(data:image/png;base64," + base64Of(green) + ")\"></div>",
         0, 200, 0},
        {"CSS background in a sheet, quoted",
         "<style>#d{height:100px;background-image:url('data:image/png;base64," + base64Of(blue) +
             "')}</style><div id=\"d\"></div>",
         0, 0, 255},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(finishes("<body style=\"margin:0\">" + row.page));
        EXPECT_GT(pixelsOf(window, row.r, row.g, row.b, 100), 320 * 90);
    }
}

// A word of 150 KB with no break is drawn, overflowing its line; where the styles allow, it breaks
// to the line and fills the lines below.
TEST_F(WebViewPageShapesTest, AWordLongerThanItsLineIsDrawn) {
    const std::string word(150 * 1024, 'W');
    const std::string style = "margin:0;font-size:20px;line-height:24px;color:#0000c8";
    ASSERT_TRUE(finishes("<body style=\"margin:0\"><p style=\"" + style + "\">" + word + "</p>"));
    EXPECT_GT(pixelsOf(window, 0, 0, 200, 24, 60), 200) << "the overflowing word's first line shows";

    ASSERT_TRUE(finishes("<body style=\"margin:0\"><p style=\"" + style + ";overflow-wrap:break-word\">" +
                         word + "</p>"));
    EXPECT_GT(web->scrollView()->contentSize().height, 400) << "broken to the lines below";
    EXPECT_GT(pixelsOf(window, 0, 0, 200, 400, 60), 2000);
}

}  // namespace

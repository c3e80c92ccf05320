// A web page's pictures decode within a memory budget: one whose header asks for more than a
// picture may hold fails undecoded and keeps its box, the page still finishing; ordinary photos,
// progressive or not, still show, and many heavy ones on one page all show, in turn.

#include <gtest/gtest.h>

#include <string>

#include "graphics/CGImageSource.h"
#include "graphics/UIColor.h"
#include "tests/graphics/JPEGWriter.h"
#include "tests/support/ImageHost.h"
#include "tests/support/MainLoop.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using controlstest::PixelReader;
using testsupport::ImageHost;

class Finishes : public NSObject, public UIWebViewDelegate {
  public:
    int finishes = 0, failures = 0;
    void webViewDidFinishLoad(UIWebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { ++failures; }
};

class WebPictureBudgetTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        UIWebView::resetResourceLimits();
        window = make<UIWindow>(CGRectMake(0, 0, 320, 200));
        window->setBackgroundColor(UIColor::colorWithRed(0, 200 / 255.0, 0, 1));
        window->setHidden(false);
        web = make<UIWebView>(CGRectMake(0, 0, 320, 200));
        window->addSubview(web);
        log = make<Finishes>();
        web->setDelegate(log);
    }
    void TearDown() override {
        window->setHidden(true);
        UIKitTest::TearDown();
    }
    bool load(const std::string& html) {
        web->loadHTMLString(html, nullptr);
        return testsupport::pumpMainRunLoopUntil([&] { return log->finishes + log->failures > 0; }, 60);
    }
    // How many rows of the web view hold a pixel near the colour, and how wide they reach.
    CGSize extentOf(int r, int g, int b) {
        testsupport::drainMainRunLoop();
        PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
        int x0 = 320, y0 = 200, x1 = -1, y1 = -1;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 320; ++x) {
                auto p = pixels.at(x, y);
                if (std::abs(p.r - r) <= 12 && std::abs(p.g - g) <= 12 && std::abs(p.b - b) <= 12)
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
        return x1 < 0 ? CGSizeZero : CGSizeMake(x1 - x0 + 1, y1 - y0 + 1);
    }
    Ref<UIWindow> window;
    Ref<UIWebView> web;
    Ref<Finishes> log;
};

// One flat colour: (60, 110, 160) in RGB.
std::string flatPhoto(int width, int height, bool subsampled) {
    return jpegwriter::write({width, height, 3, subsampled, true, true, 90});
}

TEST_F(WebPictureBudgetTest, PicturesPastTheBudgetFailUndecodedAndKeepTheirBox) {
    const std::string photo = flatPhoto(800, 600, true);
    const std::string huge = jpegwriter::withClaimedSize(photo, 10000, 10000);
    const std::string scans =
        jpegwriter::withRepeatedLastScan(jpegwriter::write({64, 48, 3, false, true}), 3000);
    ImageHost host;
    host.setPicture("/huge.jpg", huge);
    host.setPicture("/scans.jpg", scans);
    host.setPicture("/photo.jpg", photo);
    ASSERT_TRUE(
        load("<body style=\"margin:0\"><img src=\"" + host.url("/huge.jpg") +
             "\" width=\"50\" height=\"40\"><img src=\"" + host.url("/scans.jpg") +
             "\" width=\"50\" height=\"40\"><img src=\"" + host.url("/photo.jpg") +
             "\" width=\"80\" height=\"60\"><div style=\"background:#c80000;height:10px\"></div></body>"));
    EXPECT_EQ(log->finishes, 1);
    EXPECT_EQ(host.requestCount("/huge.jpg"), 1);
    EXPECT_EQ(host.requestCount("/scans.jpg"), 1);
    // The photo shows at its box; the refused ones leave theirs, so the bar stays below the row.
    CGSize shown = extentOf(60, 110, 160);
    EXPECT_NEAR(shown.width, 80, 1);
    EXPECT_NEAR(shown.height, 60, 1);
    EXPECT_NEAR(extentOf(200, 0, 0).height, 10, 1);

    // Straight through the decoder, with default limits.
    UIWebView::ResourceLimits limits;
    struct Case {
        const char* name;
        std::string bytes;
        bool shows;
    };
    for (const Case& c : {Case{"24 MP progressive 4:2:0", flatPhoto(6000, 4000, true), true},
                          Case{"12 MP progressive 4:4:4", flatPhoto(4000, 3000, false), true},
                          Case{"claims 100 MP", huge, false}, Case{"3000 scans", scans, false}}) {
        Ref<CGImage> image = detail::decodeWebPicture(NSData(c.bytes.data(), c.bytes.size()), limits);
        EXPECT_EQ(image != nullptr, c.shows) << c.name;
        if (image) {
            EXPECT_EQ(std::max(image->width(), image->height()), std::size_t(limits.maxDecodedSide))
                << c.name;
        }
    }
}

TEST_F(WebPictureBudgetTest, ManyHeavyPicturesOnOnePageAllShowInTurn) {
    // Each needs nearly a picture's whole bound to decode, so they cannot all decode at once.
    const std::string heavy = flatPhoto(4000, 3000, false);
    UIWebView::ResourceLimits limits;
    auto source = CGImageSourceCreateWithData(NSData(heavy.data(), heavy.size()));
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
    options.setObject(kCGImageSourceThumbnailMaxPixelSize, double(limits.maxDecodedSide));
    auto needed = CGImageSourceEstimateThumbnailBytes(source, 0, options);
    ASSERT_TRUE(needed);
    EXPECT_GT(*needed, limits.maxPictureDecodeBytes / 2);
    EXPECT_LE(*needed, limits.maxPictureDecodeBytes);

    ImageHost host;
    std::string page = "<body style=\"margin:0\">";
    for (int i = 0; i < 6; ++i) {
        const std::string path = "/heavy" + std::to_string(i) + ".jpg";
        host.setPicture(path, heavy);
        page += "<img src=\"" + host.url(path) + "\" width=\"40\" height=\"30\">";
    }
    ASSERT_TRUE(load(page + "</body>"));
    EXPECT_EQ(log->finishes, 1);
    // They show as the page's process decodes them, one after another, also after the load.
    CGSize shown = CGSizeZero;
    testsupport::pumpMainRunLoopUntil(
        [&] {
            shown = extentOf(60, 110, 160);
            return std::abs(shown.width - 240) <= 1;
        },
        30);
    EXPECT_NEAR(shown.width, 240, 1);
    EXPECT_NEAR(shown.height, 30, 1);
}

}  // namespace

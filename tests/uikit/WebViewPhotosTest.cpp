// A page's pictures are decoded no larger than the page shows them: at their box on the screen's
// scale where the page sizes them, else at the view's width, never past the decode bound; laid out
// at their natural size from the header where the page gives none. A larger box later brings a
// larger decode, a bounded number of times, and a picture keeps its smaller decode when the larger
// would not fit the page's budget.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/graphics/JPEGWriter.h"
#include "tests/support/ImageHost.h"
#include "tests/support/MainLoop.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/WebViewTestSupport.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using detail::WebPictureFit;
using testsupport::ImageHost;

TEST(WebPictureFitTest, TheDecodedSideCoversTheBoxWithinTheBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        WebPictureFit fit;
        long long width, height, maxSide;
        long long side;
    };
    const Case cases[] = {
        {"a landscape photo in its box", {120, 90, 0}, 4032, 3024, 2048, 120},
        {"a box of other proportions: the side that needs more", {120, 30, 0}, 4032, 3024, 2048, 120},
        {"a box taller than the photo's proportions", {60, 90, 0}, 4032, 3024, 2048, 120},
        {"a portrait photo, width given", {90, 0, 0}, 3024, 4032, 2048, 120},
        {"a portrait photo, height given", {0, 120, 0}, 3024, 4032, 2048, 120},
        {"no box: the screen's width", {0, 0, 640}, 4032, 3024, 2048, 640},
        {"a box and a use at its own size: the larger", {120, 90, 640}, 4032, 3024, 2048, 640},
        {"a box larger than the picture: its own size", {1000, 800, 0}, 400, 300, 2048, 400},
        {"a box past the decode bound: the bound", {5000, 3750, 0}, 4032, 3024, 2048, 2048},
        {"nothing known: as large as allowed", {}, 4032, 3024, 2048, 2048},
        {"nothing known, a small picture: its own", {}, 300, 200, 2048, 300},
        {"a fraction of a pixel rounds up", {10.2, 0, 0}, 100, 100, 2048, 11},
        {"a box smaller than a pixel: one", {0.001, 0, 0}, 4000, 10, 2048, 1},
        {"not-a-number sides count as none", {nan, nan, nan}, 4032, 3024, 2048, 2048},
        {"an endless side: the bound", {inf, 0, 0}, 4032, 3024, 2048, 2048},
        {"negative sides count as none", {-5, -5, -5}, 4032, 3024, 2048, 2048},
        {"a bound of zero still gives a pixel", {120, 90, 0}, 4032, 3024, 0, 1},
        {"no natural size: within the bound", {120, 90, 0}, 0, 0, 2048, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.fit.side(c.width, c.height, c.maxSide), c.side) << c.name;
    EXPECT_EQ((WebPictureFit{10, 0, 5}.joined({2, 30, 0})), (WebPictureFit{10, 30, 5}));
}

NSData bytesOf(const std::string& s) {
    return NSData(s.data(), s.size());
}

TEST(WebPictureFitTest, PicturesDecodeAtTheFitAndTellTheirNaturalSize) {
    const std::string photo = jpegwriter::write({4032, 3024, 3, true, false, true, 90});
    const std::string turned = ImageHost::jpegPicture(400, 300, 7, 0.9, 6);
    const std::string png = ImageHost::pngPicture(300, 200, 3);
    struct Case {
        const char* name;
        std::string bytes;
        WebPictureFit fit;
        std::size_t width, height;              // the decode
        long long naturalWidth, naturalHeight;  // capped by the bound
    };
    const Case cases[] = {
        {"a camera photo in a 60 x 45 box at scale 2", photo, {120, 90, 0}, 120, 90, 2048, 1536},
        {"a camera photo at a 320-point screen's width", photo, {0, 0, 640}, 640, 480, 2048, 1536},
        {"a camera photo with no fit", photo, {}, 2048, 1536, 2048, 1536},
        {"a turned photo stands upright", turned, {0, 0, 200}, 150, 200, 300, 400},
        {"a PNG at a screen's width", png, {0, 0, 100}, 100, 67, 300, 200},
        {"a PNG in a box larger than itself", png, {900, 600, 0}, 300, 200, 300, 200},
    };
    UIWebView::ResourceLimits limits;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ref<CGImage> image = detail::decodeWebPicture(bytesOf(c.bytes), limits, c.fit);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), c.width);
        EXPECT_EQ(image->height(), c.height);
        const auto header = detail::readWebPictureHeader(bytesOf(c.bytes), limits);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->naturalWidth, c.naturalWidth);
        EXPECT_EQ(header->naturalHeight, c.naturalHeight);
    }
    // Bytes that are no picture tell no size.
    EXPECT_FALSE(detail::decodeWebPicture(bytesOf("GIF89a but not really"), limits, {120, 90, 0}));
    EXPECT_FALSE(detail::readWebPictureHeader(bytesOf("GIF89a but not really"), limits));
}

class Ends : public NSObject, public UIWebViewDelegate {
  public:
    int finishes = 0, failures = 0;
    void webViewDidFinishLoad(UIWebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { ++failures; }
};

// The flat photo's colour.
const controlstest::RGBA kPhoto{60, 110, 160, 255};

class WebViewPhotosTest : public uikittest::WebViewStageTest {
  protected:
    void SetUp() override {
        WebViewStageTest::SetUp();
        ends = make<Ends>();
        web->setDelegate(ends);
    }
    bool load(const std::string& html) {
        ends->finishes = ends->failures = 0;
        web->loadHTMLString(html, NSURL::URLWithString(host.url("/page")));
        return testsupport::pumpMainRunLoopUntil([&] { return ends->finishes + ends->failures > 0; }, 30);
    }
    // The extent of the photo's colour in the web view as the window draws it.
    CGRect photoBox() {
        testsupport::drainMainRunLoop();
        controlstest::PixelReader pixels(UIWindowRenderer::imageOfView(window, 1));
        int x0 = 320, y0 = 400, x1 = -1, y1 = -1;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 320; ++x) {
                auto p = pixels.at(x, y);
                if (std::abs(p.r - kPhoto.r) <= 12 && std::abs(p.g - kPhoto.g) <= 12 &&
                    std::abs(p.b - kPhoto.b) <= 12)
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
        return x1 < 0 ? CGRectZero : CGRectMake(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    }
    // Gives the web view a new width and runs the loop until the page's picture has been asked
    // for `requests` times in all and what that brought is in.
    void widen(CGFloat width, int requests, const std::string& path) {
        web->setFrame(CGRectMake(0, 0, width, 400));
        web->layoutIfNeeded();
        EXPECT_TRUE(
            testsupport::pumpMainRunLoopUntil([&] { return host.requestCount(path) >= requests; }, 10));
        testsupport::pumpMainRunLoop(0.5);
        EXPECT_EQ(host.requestCount(path), requests) << "at " << width;
    }
    static std::string photo(int width, int height) {
        return jpegwriter::write({width, height, 3, true, false, true, 90});
    }

    ImageHost host;
    Ref<Ends> ends;
};

TEST_F(WebViewPhotosTest, APhotoGivenNoSizeLaysOutAtItsNaturalSize) {
    struct Case {
        const char* name;
        int width, height;
        CGSize content;      // the page's laid-out size
        CGFloat shownWidth;  // of the photo in the 320-point view
    };
    // Decoded at the view's width (640 pixels), laid out as large as the header says, capped.
    const Case cases[] = {
        {"larger than the view", 1200, 900, {1200, 900}, 320},
        {"past the decode bound", 4096, 1024, {2048, 512}, 320},
        {"smaller than the view", 200, 100, {320, 100}, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/natural" + std::to_string(c.width) + ".jpg";
        host.setPicture(path, photo(c.width, c.height));
        ASSERT_TRUE(load("<body style=\"margin:0\"><img style=\"display:block\" src=\"" + host.url(path) +
                         "\"></body>"));
        EXPECT_EQ(ends->finishes, 1);
        const CGSize content = web->scrollView()->contentSize();
        EXPECT_NEAR(content.width, c.content.width, 1);
        EXPECT_NEAR(content.height, c.content.height, 1);
        EXPECT_NEAR(photoBox().size.width, c.shownWidth, 1);
    }
}

TEST_F(WebViewPhotosTest, ALargerBoxLaterBringsALargerDecodeABoundedNumberOfTimes) {
    host.setPicture("/wide.jpg", photo(1600, 1200));
    web->setFrame(CGRectMake(0, 0, 100, 400));
    ASSERT_TRUE(load("<body style=\"margin:0\"><img style=\"display:block;width:100%\" src=\"" +
                     host.url("/wide.jpg") + "\"></body>"));
    EXPECT_EQ(host.requestCount("/wide.jpg"), 1);
    EXPECT_NEAR(photoBox().size.width, 100, 1);

    // Each wider view shows the photo larger than its decode: decoded again by the page's process
    // from the bytes it keeps, never fetched again...
    widen(200, 1, "/wide.jpg");
    EXPECT_NEAR(photoBox().size.width, 200, 1);
    // ...nor for a narrower one.
    widen(150, 1, "/wide.jpg");
    // A few times at most; then the picture keeps what it has, and still shows.
    widen(240, 1, "/wide.jpg");
    widen(280, 1, "/wide.jpg");
    widen(300, 1, "/wide.jpg");
    widen(320, 1, "/wide.jpg");
    EXPECT_NEAR(photoBox().size.width, 320, 1);
    EXPECT_EQ(ends->failures, 0);
}

TEST_F(WebViewPhotosTest, APictureKeepsItsDecodeWhenALargerOneWouldPassThePageBudget) {
    UIWebView::ResourceLimits limits = UIWebView::resourceLimits();
    limits.maxDecodedPixelsInAll = 50'000;  // room for 200 x 150, not 640 x 480
    UIWebView::setResourceLimits(limits);
    host.setPicture("/budget.jpg", photo(1600, 1200));
    web->setFrame(CGRectMake(0, 0, 100, 400));
    ASSERT_TRUE(load("<body style=\"margin:0\"><img style=\"display:block;width:100%\" src=\"" +
                     host.url("/budget.jpg") + "\"></body>"));
    // Decoded again larger up to the bound, refused each time by the budget: the small decode
    // shows; the picture is fetched once.
    widen(320, 1, "/budget.jpg");
    widen(310, 1, "/budget.jpg");
    const CGRect shown = photoBox();
    EXPECT_NEAR(shown.size.width, 310, 1);
    EXPECT_NEAR(shown.size.height, 232, 2);
}

TEST_F(WebViewPhotosTest, OnePictureInTwoBoxesIsFetchedOnceForTheLarger) {
    host.setPicture("/twice.jpg", photo(4032, 3024));
    ASSERT_TRUE(load("<body style=\"margin:0\"><img src=\"" + host.url("/twice.jpg") +
                     "\" width=\"20\" height=\"15\" style=\"display:block\"><img src=\"" +
                     host.url("/twice.jpg") +
                     "\" width=\"200\" height=\"150\" style=\"display:block\"></body>"));
    EXPECT_EQ(ends->finishes, 1);
    EXPECT_EQ(host.requestCount("/twice.jpg"), 1);
    const CGRect shown = photoBox();
    EXPECT_NEAR(shown.size.width, 200, 1);
    EXPECT_NEAR(shown.size.height, 165, 1);
}

}  // namespace

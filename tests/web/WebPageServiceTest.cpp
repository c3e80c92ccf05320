// The page's process's work without its socket: a page loaded, laid out and painted, its links,
// its stylesheets and pictures (fetched ones and those written into it as data: URLs) within their
// budgets, a picture decoded again when it shows larger, and what a failed resource or a command
// before any page answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/NSData+Base64.h"
#include "graphics/ImageCodec.h"
#include "tests/web/WebTestPages.h"
#include "web/WebPageService.h"

namespace {

using namespace detail::webpage;

constexpr const char* kBase = "http://site.test/dir/page.html";

std::string pngOf(std::size_t w, std::size_t h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    auto png = detail::encodePNG(*webtest::solidPicture(w, h, r, g, b));
    return png ? png->toString() : std::string();
}

std::string dataURLOf(const std::string& bytes) {
    return "data:image/png;base64," + NSData_Base64::base64EncodedString(std::string_view(bytes));
}

struct RGBA {
    int r, g, b, a;
    bool operator==(const RGBA&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RGBA& c) {
    return out << "(" << c.r << "," << c.g << "," << c.b << "," << c.a << ")";
}

// A pixel of a Pixels reply, unpremultiplied is not needed: the tests look at opaque or clear ones.
RGBA pixelAt(const PixelsReply& pixels, int x, int y) {
    const std::size_t at = (std::size_t(y) * std::size_t(pixels.width) + std::size_t(x)) * 4;
    const auto* p = reinterpret_cast<const std::uint8_t*>(pixels.pixels.data()) + at;
    return {p[2], p[1], p[0], p[3]};
}

class WebPageServiceTest : public ::testing::Test {
  protected:
    LoadedReply load(const std::string& document, Viewport viewport = {320, 1, 320},
                     const std::string& MIMEType = "text/html", const std::string& charset = "",
                     bool stylesheetsFirst = false) {
        LoadCommand c;
        c.id = ++id_;
        c.document = document;
        c.MIMEType = MIMEType;
        c.textEncodingName = charset;
        c.baseURL = kBase;
        c.viewport = viewport;
        c.pictureLimits = limits;
        c.stylesheetsFirst = stylesheetsFirst;
        auto reply = std::get<LoadedReply>(service.handle(c));
        EXPECT_EQ(reply.id, c.id);
        EXPECT_EQ(reply.layout.picturesToDecode, service.picturesToDecode());
        return reply;
    }
    bool stylesheet(const std::string& url, bool ok, const std::string& bytes,
                    const std::string& charset = "") {
        StylesheetCommand c{++id_, url, ok, bytes, charset};
        auto reply = std::get<AckReply>(service.handle(c));
        EXPECT_EQ(reply.id, c.id);
        return reply.ok;
    }
    bool picture(const std::string& url, bool ok, const std::string& bytes) {
        return pictureAck(url, ok, bytes).ok;
    }
    AckReply pictureAck(const std::string& url, bool ok, const std::string& bytes) {
        PictureCommand c{++id_, url, ok, bytes};
        auto reply = std::get<AckReply>(service.handle(c));
        EXPECT_EQ(reply.id, c.id);
        EXPECT_EQ(reply.picturesToDecode, service.picturesToDecode());
        return reply;
    }
    DecodedReply decode() {
        DecodeCommand c{++id_};
        auto reply = std::get<DecodedReply>(service.handle(c));
        EXPECT_EQ(reply.id, c.id);
        EXPECT_EQ(reply.picturesToDecode, service.picturesToDecode());
        return reply;
    }
    // Decodes until nothing waits (each Decode takes one off, or it is no bounded piece of work);
    // answers how many Decodes that took.
    std::size_t decodeAll() {
        std::size_t decodes = 0;
        for (std::uint32_t left = service.picturesToDecode(); left > 0; ++decodes) {
            const auto reply = decode();
            EXPECT_LT(reply.picturesToDecode, left);
            if (reply.picturesToDecode >= left) break;
            left = reply.picturesToDecode;
        }
        return decodes;
    }
    Layout refresh(bool rebuild, Viewport viewport = {320, 1, 320}) {
        RefreshCommand c{++id_, rebuild, viewport};
        auto reply = std::get<LaidOutReply>(service.handle(c));
        EXPECT_EQ(reply.id, c.id);
        return reply.layout;
    }
    PixelsReply paint(double x, double y, double w, double h, double scale = 1) {
        PaintCommand c{++id_, x, y, w, h, scale};
        auto reply = std::get<PixelsReply>(service.handle(c));
        EXPECT_EQ(reply.id, c.id);
        EXPECT_EQ(reply.pixels.size(), std::size_t(reply.width) * std::size_t(reply.height) * 4);
        EXPECT_EQ(reply.picturesToDecode, service.picturesToDecode());
        return reply;
    }
    std::string linkAt(double x, double y) {
        LinkAtCommand c{++id_, x, y};
        auto reply = std::get<LinkReply>(service.handle(c));
        EXPECT_EQ(reply.id, c.id);
        return reply.url;
    }

    detail::WebPictureLimits limits;
    WebPageService service;
    std::uint64_t id_ = 0;
};

TEST_F(WebPageServiceTest, APageLaysOutAtTheViewportAndPaintsItsBoxesTransparentElsewhere) {
    auto loaded =
        load("<html><body style='margin:0'><div style='width:50px;height:400px;background:#ff0000'></div>"
             "</body></html>");
    EXPECT_EQ(loaded.encoding, "utf-8");
    EXPECT_DOUBLE_EQ(loaded.layout.contentWidth, 320);
    EXPECT_DOUBLE_EQ(loaded.layout.contentHeight, 400);
    EXPECT_FALSE(loaded.layout.hasCanvas);

    auto pixels = paint(0, 0, 100, 100, 2);
    EXPECT_EQ(pixels.x, 0);
    EXPECT_EQ(pixels.width, 200);
    EXPECT_EQ(pixels.height, 200);
    EXPECT_EQ(pixelAt(pixels, 10, 10), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(pixels, 99, 199), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(pixels, 100, 10), (RGBA{0, 0, 0, 0}));
    // An area lower down in the page: document coordinates, not the area's own.
    auto lower = paint(40, 390, 20, 20, 1);
    EXPECT_EQ(lower.y, 390);
    EXPECT_EQ(pixelAt(lower, 5, 5), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(lower, 15, 5), (RGBA{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(lower, 5, 15), (RGBA{0, 0, 0, 0}));
}

TEST_F(WebPageServiceTest, APaintCoversTheAreasDevicePixelsRoundedOutwards) {
    load("<p>text</p>");
    struct Case {
        double x, y, w, h, scale;
        std::int32_t px, py, pw, ph;
    } cases[] = {
        {0, 0, 10, 10, 1, 0, 0, 10, 10},       {0.3, 0.3, 10, 10, 1, 0, 0, 11, 11},
        {-2.5, 7.25, 3, 1, 2, -5, 14, 6, 3},   {1, 1, 0, 0, 3, 3, 3, 0, 0},
        {0, 0, 0.1, 0.1, 1, 0, 0, 1, 1},       {0, 0, 2048, 100, kMaxScale, 0, 0, 16384, 800},
        {10, 10, 5.5, 5.5, 1.5, 15, 15, 9, 9},
    };
    for (const auto& c : cases) {
        auto pixels = paint(c.x, c.y, c.w, c.h, c.scale);
        EXPECT_EQ(pixels.x, c.px) << c.x;
        EXPECT_EQ(pixels.y, c.py) << c.y;
        EXPECT_EQ(pixels.width, c.pw) << c.w << " at " << c.scale;
        EXPECT_EQ(pixels.height, c.ph) << c.h << " at " << c.scale;
        EXPECT_DOUBLE_EQ(pixels.scale, c.scale);
    }
}

TEST_F(WebPageServiceTest, APaintTooLargeForOneFrameIsCutToTheRowsThatFit) {
    load("<body style='margin:0;background:#00ff00'><div style='height:3000px'></div></body>");
    auto pixels = paint(0, 0, 2048, 2048, kMaxScale);
    EXPECT_EQ(pixels.width, kMaxPixelSide);
    EXPECT_GT(pixels.height, 0);
    EXPECT_LT(pixels.height, kMaxPixelSide);
    const std::string frame = encodeFrame(Reply{pixels});
    EXPECT_LE(frame.size() - 4, kMaxMessageBytes);
    EXPECT_TRUE(decodeReply(std::string_view(frame).substr(4)).has_value());
    EXPECT_EQ(pixelAt(pixels, 100, pixels.height - 1), (RGBA{0, 255, 0, 255}));
}

TEST_F(WebPageServiceTest, ThePagesOwnCanvasIsReportedAndPainted) {
    auto loaded = load("<html style='background:#0000ff'><body><p>x</p></body></html>");
    ASSERT_TRUE(loaded.layout.hasCanvas);
    EXPECT_DOUBLE_EQ(loaded.layout.canvasRed, 0);
    EXPECT_DOUBLE_EQ(loaded.layout.canvasBlue, 1);
    EXPECT_DOUBLE_EQ(loaded.layout.canvasAlpha, 1);
    EXPECT_EQ(pixelAt(paint(0, 0, 20, 20), 1, 1), (RGBA{0, 0, 255, 255}));
}

TEST_F(WebPageServiceTest, TheTextIsDecodedAsTheTransportAndThePageSay) {
    // "中文" in GBK.
    const std::string gbk = "\xD6\xD0\xCE\xC4";
    struct Case {
        std::string document, MIMEType, charset, text, encoding;
    } cases[] = {
        {"<p>" + gbk + "</p>", "text/html", "gbk", "<p>中文</p>", "gbk"},
        {"<meta charset=gbk><p>" + gbk + "</p>", "text/html", "", "<meta charset=gbk><p>中文</p>", "gbk"},
        {"<p>中文</p>", "", "", "<p>中文</p>", "utf-8"},
        {"\xEF\xBB\xBFplain <b>text</b>", "TEXT/PLAIN", "gbk", "plain <b>text</b>", "utf-8"},
    };
    for (const auto& c : cases) {
        auto loaded = load(c.document, {320, 1, 320}, c.MIMEType, c.charset);
        EXPECT_EQ(loaded.text, c.text);
        EXPECT_EQ(loaded.encoding, c.encoding);
        EXPECT_GT(loaded.layout.contentHeight, 1);
    }
}

TEST_F(WebPageServiceTest, PlainTextShowsPreformattedWithItsMarkupAsText) {
    auto one = load("a <b>line</b>", {320, 1, 320}, "text/plain");
    auto three = load("a\n<b>line</b>\n\nthree", {320, 1, 320}, "text/plain");
    EXPECT_EQ(three.text, "a\n<b>line</b>\n\nthree");
    // Line breaks stay line breaks, as they would not in HTML.
    EXPECT_GT(three.layout.contentHeight, 2.5 * one.layout.contentHeight - 20);
    EXPECT_TRUE(three.layout.pictures.empty());
}

TEST_F(WebPageServiceTest, TheLinkUnderAPointIsAbsoluteAndNoneElsewhere) {
    load("<body style='margin:0'><a href='../next.html?q=1' "
         "style='display:block;width:100px;height:50px'>go</a>"
         "<a href='javascript:alert(1)' style='display:block;height:50px'>no</a></body>");
    EXPECT_EQ(linkAt(10, 10), "http://site.test/next.html?q=1");
    EXPECT_EQ(linkAt(150, 10), "");
    EXPECT_EQ(linkAt(10, 75), "");
    EXPECT_EQ(linkAt(-5, -5), "");
}

TEST_F(WebPageServiceTest, StylesheetsAreListedKeptAndReadWhenThePageIsMadeAgain) {
    // The page is in GBK and so is its stylesheet, which names no charset: the page's encoding
    // reads it.
    const std::string page =
        "<html><head><link rel=stylesheet href='a.css'><link rel=stylesheet href='gone.css'></head>"
        "<body style='margin:0'><div class='\xD6\xD0'></div></body></html>";
    auto loaded = load(page, {320, 1, 320}, "text/html", "gbk");
    EXPECT_EQ(loaded.layout.stylesheets,
              (std::vector<std::string>{"http://site.test/dir/a.css", "http://site.test/dir/gone.css"}));
    EXPECT_DOUBLE_EQ(loaded.layout.contentHeight, 1);

    EXPECT_TRUE(stylesheet("http://site.test/dir/a.css", true, ".\xD6\xD0{height:300px;background:#00f}"));
    EXPECT_FALSE(stylesheet("http://site.test/dir/gone.css", false, ""));
    // Kept, not read until the page is made again.
    EXPECT_DOUBLE_EQ(refresh(false).contentHeight, 1);
    auto layout = refresh(true);
    EXPECT_DOUBLE_EQ(layout.contentHeight, 300);
    EXPECT_EQ(pixelAt(paint(0, 0, 10, 10), 5, 5), (RGBA{0, 0, 255, 255}));

    // A charset its reply names wins over the page's.
    EXPECT_TRUE(stylesheet("http://site.test/dir/a.css", true, ".\xD6\xD0{height:200px}", "windows-1252"));
    EXPECT_DOUBLE_EQ(refresh(true).contentHeight, 1);
}

TEST_F(WebPageServiceTest, APictureIsDecodedAtItsBoxAndAgainLargerWhenItShowsLarger) {
    const std::string url = "http://site.test/dir/a.png";
    auto loaded = load("<body style='margin:0'><img src='a.png' style='display:block;width:50%'></body>",
                       {200, 2, 400});
    ASSERT_EQ(loaded.layout.pictures.size(), 1u);
    EXPECT_EQ(loaded.layout.pictures[0].url, url);
    EXPECT_DOUBLE_EQ(loaded.layout.pictures[0].fit.width, 200);  // 100 points at scale 2

    ASSERT_TRUE(picture(url, true, pngOf(1600, 800, 255, 0, 0)));
    // Taken in, not decoded: a Decode does that.
    EXPECT_FALSE(service.pictureFor(url));
    EXPECT_EQ(service.picturesToDecode(), 1u);
    EXPECT_TRUE(decode().repaint);
    ASSERT_TRUE(service.pictureFor(url));
    EXPECT_EQ(service.pictureFor(url)->width(), 200u);
    EXPECT_EQ(service.decodedPixelsInAll(), 200u * 100u);
    auto layout = refresh(false, {200, 2, 400});
    EXPECT_DOUBLE_EQ(layout.contentHeight, 50);
    EXPECT_EQ(layout.picturesToDecode, 0u);
    EXPECT_EQ(pixelAt(paint(0, 0, 100, 50, 2), 100, 50), (RGBA{255, 0, 0, 255}));

    // Wider views show it wider: it waits to be decoded again from the bytes kept (the smaller
    // decode showing meanwhile), three times at most.
    const struct {
        double width;
        std::size_t decoded;
        int redecodes;
    } steps[] = {{400, 400, 1}, {410, 400, 1}, {600, 600, 2}, {800, 800, 3}, {1200, 800, 3}};
    for (const auto& step : steps) {
        const auto before = service.pictureFor(url)->width();
        const auto wider = refresh(false, {step.width, 2, 2 * step.width});
        EXPECT_EQ(wider.picturesToDecode, step.decoded > before ? 1u : 0u) << step.width;
        EXPECT_EQ(service.pictureFor(url)->width(), before);
        decodeAll();
        EXPECT_EQ(service.pictureFor(url)->width(), step.decoded) << step.width;
        EXPECT_EQ(service.redecodesOf(url), step.redecodes) << step.width;
        EXPECT_EQ(service.decodedPixelsInAll(), step.decoded * step.decoded / 2);
    }
    // The bytes counted once, however often decoded.
    EXPECT_EQ(service.pictureBytesInAll(), pngOf(1600, 800, 255, 0, 0).size());
}

TEST_F(WebPageServiceTest, APictureAtItsOwnSizeIsDecodedForTheScreenAndLaysOutAtItsNaturalSize) {
    const std::string url = "http://site.test/dir/big.png";
    auto loaded =
        load("<body style='margin:0'><img src='big.png' style='display:block'></body>", {100, 2, 200});
    ASSERT_EQ(loaded.layout.pictures.size(), 1u);
    EXPECT_DOUBLE_EQ(loaded.layout.pictures[0].fit.screen, 200);
    ASSERT_TRUE(picture(url, true, pngOf(1000, 500, 0, 255, 0)));
    // Laid out at its natural size before it is decoded.
    auto layout = refresh(false, {100, 2, 200});
    EXPECT_DOUBLE_EQ(layout.contentWidth, 1000);
    EXPECT_DOUBLE_EQ(layout.contentHeight, 500);
    EXPECT_FALSE(service.pictureFor(url));
    decodeAll();
    EXPECT_EQ(service.pictureFor(url)->width(), 200u);
}

TEST_F(WebPageServiceTest, ALargerDecodePastThePixelBudgetIsRefusedAndTheSmallerStays) {
    limits.maxDecodedPixelsInAll = 100 * 100 + 150 * 150;
    const std::string a = "http://site.test/dir/a.png", b = "http://site.test/dir/b.png";
    load("<body style='margin:0'><img src='a.png' style='width:50%'><img src='b.png' width=150 "
         "height=150></body>",
         {200, 1, 200});
    EXPECT_TRUE(picture(a, true, pngOf(400, 400, 255, 0, 0)));
    EXPECT_TRUE(picture(b, true, pngOf(300, 300, 0, 0, 255)));
    EXPECT_EQ(decodeAll(), 2u);
    EXPECT_EQ(service.decodedPixelsInAll(), limits.maxDecodedPixelsInAll);
    EXPECT_EQ(refresh(false, {400, 1, 400}).picturesToDecode, 1u);
    EXPECT_FALSE(decode().repaint);
    EXPECT_EQ(service.pictureFor(a)->width(), 100u);
    EXPECT_EQ(service.decodedPixelsInAll(), limits.maxDecodedPixelsInAll);
    // A third picture finds no pixels left: its bytes are taken, it is not decoded, and it does
    // not wait.
    const std::string c = "http://site.test/dir/c.png";
    EXPECT_TRUE(picture(c, true, pngOf(10, 10, 0, 0, 0)));
    EXPECT_EQ(service.picturesToDecode(), 1u);
    EXPECT_FALSE(decode().repaint);
    EXPECT_EQ(service.picturesToDecode(), 0u);
    EXPECT_FALSE(service.pictureFor(c));
}

TEST_F(WebPageServiceTest, PicturesPastTheBytesOfAllTogetherFailFetchedOrWrittenIntoThePage) {
    const std::string first = pngOf(64, 64, 255, 0, 0), second = pngOf(80, 80, 0, 255, 0);
    limits.maxPictureBytesInAll = first.size() + second.size() - 1;
    load("<img src='a.png' width=10 height=10><img src='b.png' width=10 height=10>");
    EXPECT_TRUE(picture("http://site.test/dir/a.png", true, first));
    EXPECT_FALSE(picture("http://site.test/dir/b.png", true, second));
    EXPECT_EQ(service.pictureBytesInAll(), first.size());

    // A data: picture counts against the same bytes.
    limits.maxPictureBytesInAll = first.size() + second.size() - 1;
    const std::string page =
        "<img src='a.png' width=10 height=10><img src='" + dataURLOf(second) + "' width=10 height=10>";
    EXPECT_EQ(load(page).layout.picturesToDecode, 1u);
    EXPECT_EQ(service.pictureBytesInAll(), second.size());
    decodeAll();
    EXPECT_TRUE(service.pictureFor(dataURLOf(second)));
    EXPECT_FALSE(picture("http://site.test/dir/a.png", true, first));
}

TEST_F(WebPageServiceTest, DataPicturesInImgAndCSSBackgroundsAreReadHereAndNeverAskedFor) {
    const std::string red = dataURLOf(pngOf(40, 20, 255, 0, 0));
    // The same bytes percent-encoded, as a page may write them.
    std::string green = "data:image/png,";
    for (unsigned char c : pngOf(4, 4, 0, 255, 0)) {
        static const char* hex = "0123456789ABCDEF";
        green += '%';
        green += hex[c >> 4];
        green += hex[c & 15];
    }
    auto loaded = load("<body style='margin:0'><img src='" + red +
                       "' style='display:block' width=40 height=20>"
                       "<div style='width:30px;height:30px;background:url(\"" +
                       green + "\")'></div><img src='data:image/png;base64,!!!!' width=5 height=5></body>");
    EXPECT_TRUE(loaded.layout.pictures.empty());
    EXPECT_TRUE(loaded.layout.stylesheets.empty());
    // Read as the page was laid out, decoded as it is painted.
    EXPECT_EQ(loaded.layout.picturesToDecode, 2u);
    auto pixels = paint(0, 0, 40, 50);
    ASSERT_TRUE(service.pictureFor(red));
    EXPECT_EQ(service.pictureFor(red)->width(), 40u);
    EXPECT_FALSE(service.pictureFor("data:image/png;base64,!!!!"));
    EXPECT_EQ(pixelAt(pixels, 20, 10), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(pixels, 10, 35), (RGBA{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(pixels, 35, 35), (RGBA{0, 0, 0, 0}));
    // Never the web view's to fetch.
    EXPECT_FALSE(picture(red, true, pngOf(4, 4, 0, 0, 0)));
}

TEST_F(WebPageServiceTest, FailedAndUnreadablePicturesAnswerNotOkAndShowNothing) {
    const std::string a = "http://site.test/dir/a.png";
    load("<body style='margin:0'><img src='a.png' width=20 height=20 style='display:block'></body>");
    // A picture whose header reads is taken in; one whose body then does not decode fails at
    // its decode.
    struct Case {
        bool ok;
        std::string bytes;
        bool taken;
    } cases[] = {{false, "", false},
                 {true, "", false},
                 {true, "not a picture", false},
                 {true, pngOf(8, 8, 0, 0, 0).substr(0, 40), true},
                 {false, pngOf(8, 8, 0, 0, 0), false}};
    for (const auto& c : cases) {
        const auto ack = pictureAck(a, c.ok, c.bytes);
        EXPECT_EQ(ack.ok, c.taken);
        EXPECT_FALSE(ack.relayout);
        EXPECT_EQ(ack.picturesToDecode, c.taken ? 1u : 0u);
        EXPECT_FALSE(decode().repaint);
        EXPECT_EQ(service.picturesToDecode(), 0u);
        EXPECT_FALSE(service.pictureFor(a));
        EXPECT_EQ(service.decodedPixelsInAll(), 0u);
    }
    refresh(false);
    EXPECT_EQ(pixelAt(paint(0, 0, 20, 20), 10, 10), (RGBA{0, 0, 0, 0}));
    // A picture too many pixels to decode fails too.
    limits.maxImagePixels = 1000;
    load("<img src='a.png'>");
    EXPECT_FALSE(picture(a, true, pngOf(100, 100, 0, 0, 0)));
}

TEST_F(WebPageServiceTest, CommandsBeforeAnyPageAnswerAsForAnEmptyOne) {
    EXPECT_EQ(linkAt(1, 1), "");
    auto pixels = paint(0, 0, 4, 4);
    EXPECT_EQ(pixels.width, 4);
    EXPECT_EQ(pixelAt(pixels, 1, 1), (RGBA{0, 0, 0, 0}));
    EXPECT_TRUE(stylesheet("http://x.test/a.css", true, "p{}"));
    EXPECT_FALSE(picture("http://x.test/a.png", false, ""));
    auto layout = refresh(false);
    EXPECT_GE(layout.contentHeight, 1);
}

TEST_F(WebPageServiceTest, ANewPageLetsGoOfThePicturesAndStylesheetsOfTheOld) {
    const std::string a = "http://site.test/dir/a.png";
    load("<link rel=stylesheet href='s.css'><img src='a.png' width=10 height=10>");
    ASSERT_TRUE(picture(a, true, pngOf(10, 10, 1, 2, 3)));
    ASSERT_TRUE(stylesheet("http://site.test/dir/s.css", true, "body{margin:0;height:900px}"));
    decodeAll();
    EXPECT_GT(service.decodedPixelsInAll(), 0u);
    auto loaded = load("<link rel=stylesheet href='s.css'><p>new</p>");
    EXPECT_EQ(service.decodedPixelsInAll(), 0u);
    EXPECT_EQ(service.pictureBytesInAll(), 0u);
    EXPECT_FALSE(service.pictureFor(a));
    EXPECT_LT(loaded.layout.contentHeight, 900);
}

TEST_F(WebPageServiceTest, HostilePagesFinishWithinTheirBounds) {
    // A data: picture larger than every byte the page may hold is refused without being decoded.
    limits.maxPictureBytesInAll = 1000;
    std::string huge = "data:image/png;base64," + std::string(1 << 20, 'A');
    load("<img src='" + huge + "' width=10 height=10>");
    EXPECT_FALSE(service.pictureFor(huge));
    EXPECT_EQ(service.pictureBytesInAll(), 0u);
    // Past the bytes of all together, data: pictures fail unread, however small: the first ones
    // show.
    limits = {};
    std::string many;
    std::vector<std::string> urls;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < 1200; ++i) {
        const std::string png = pngOf(1 + i % 50, 1 + i / 50, 0, 0, 0);
        if (i < 1000) bytes += png.size();
        urls.push_back(dataURLOf(png));
        many += "<img width=1 height=1 src='" + urls.back() + "'>";
    }
    limits.maxPictureBytesInAll = bytes;
    EXPECT_EQ(load(many).layout.picturesToDecode, 1000u);
    EXPECT_EQ(decodeAll(), 1000u);
    for (std::size_t i = 0; i < urls.size(); ++i)
        EXPECT_EQ(service.pictureFor(urls[i]) != nullptr, i < 1000) << i;
    // Deep nesting and many pictures still answer.
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "<div>";
    for (int i = 0; i < 3000; ++i) deep += "<img src='p" + std::to_string(i) + ".png'>";
    auto loaded = load(deep);
    EXPECT_LE(loaded.layout.pictures.size(), kMaxResourceURLs);
    EXPECT_GE(loaded.layout.contentHeight, 1);
}

// A Load told to wait for the stylesheets waits only for a page whose tags link some (as its build
// asks for them): it neither builds nor lays it out until the Refresh that rebuilds.
TEST_F(WebPageServiceTest, AStylesheetsFirstLoadWaitsOnlyForTheSheetsAScanOfItsTagsFinds) {
    const auto page = [](const std::string& head) {
        return "<html><head>" + head +
               "</head><body style='margin:0'><img src='http://site.test/dir/p.png' width=10 height=10 "
               "style='display:block'><div style='height:100px;background:#f00'>"
               "<a href='http://site.test/x'>x</a></div></body></html>";
    };
    // Built and laid out: its picture asked for, its box painted, its link found.
    const auto built = [&](const Layout& layout, double height, const std::vector<std::string>& sheets) {
        EXPECT_FALSE(layout.awaitingStylesheets);
        EXPECT_EQ(layout.stylesheets, sheets);
        EXPECT_DOUBLE_EQ(layout.contentHeight, height);
        ASSERT_EQ(layout.pictures.size(), 1u);
        EXPECT_EQ(layout.pictures[0].url, "http://site.test/dir/p.png");
        EXPECT_EQ(pixelAt(paint(0, 0, 20, 20), 5, 15), (RGBA{255, 0, 0, 255}));
        EXPECT_EQ(linkAt(2, 15), "http://site.test/x");
    };
    // The engine reads rel as the one word "stylesheet", as written, and asks for its links'
    // sheets before its imports: so does the scan.
    const std::string linking =
        page("<base href='http://cdn.test/s/'><link href=\"/b.css?x=1&amp;y=2\" REL=\"stylesheet\">"
             "<link rel=icon href=i.png><link rel='alternate stylesheet' href=alt.css>"
             "<link rel=StyleSheet href=o.css>"
             "<!-- <link rel=stylesheet href='x.css'> --><script>'<link rel=stylesheet href=y.css>'</script>"
             "<link rel=stylesheet href='f.css'>"
             "<style>/* @import 'no.css'; */ @import url(\"c.css\"); @import 'd.css' screen; p{}</style>");
    const std::vector<std::string> sheets = {"http://cdn.test/b.css?x=1&y=2", "http://cdn.test/s/f.css",
                                             "http://cdn.test/s/c.css", "http://cdn.test/s/d.css"};
    const auto loaded = load(linking, {320, 1, 320}, "text/html", "", true);
    EXPECT_EQ(loaded.text, linking);
    EXPECT_TRUE(loaded.layout.awaitingStylesheets);
    EXPECT_EQ(loaded.layout.stylesheets, sheets);
    // Nothing built: no picture is asked for, nothing paints, no link is found.
    EXPECT_TRUE(loaded.layout.pictures.empty());
    EXPECT_EQ(pixelAt(paint(0, 0, 20, 20), 5, 15), (RGBA{0, 0, 0, 0}));
    EXPECT_EQ(linkAt(2, 15), "");
    for (const auto& url : sheets) EXPECT_TRUE(stylesheet(url, true, "div{height:300px !important}"));
    built(refresh(true), 310, sheets);
    // Laid out at once: without the flag, or linking no sheet a server gives; plain text links none.
    built(load(page("<link rel=stylesheet href='a.css'>")).layout, 110, {"http://site.test/dir/a.css"});
    for (const char* head :
         {"<style>div{color:red}</style>", "<link rel=stylesheet href='data:text/css,div{}'>",
          "<link rel=stylesheet href='javascript:x'>"}) {
        SCOPED_TRACE(head);
        built(load(page(head), {320, 1, 320}, "text/html", "", true).layout, 110, {});
    }
    EXPECT_FALSE(load("<link rel=stylesheet href=a.css>", {320, 1, 320}, "text/plain", "", true)
                     .layout.awaitingStylesheets);
}

// What a picture that comes asks of the web view: a layout only where the page leaves a side of
// its box to it, or before the page's first layout; nothing is decoded until a paint or a Decode.
// (Pictures that fail ask for none: see FailedAndUnreadablePicturesAnswerNotOkAndShowNothing.)
TEST_F(WebPageServiceTest, APictureAsksForALayoutOnlyWhereItsSizeLaysThePageOut) {
    const std::string url = "http://site.test/dir/p.png", png = pngOf(40, 30, 255, 0, 0);
    const std::pair<const char*, bool> cases[] = {
        {"<img src='p.png' width=20 height=10>", false},
        {"<img src='p.png' style='width:50%;height:10px'>", false},
        {"<div style='width:20px;height:10px;background:url(p.png)'></div>", false},
        {"<img src='p.png' width=20>", true},
        {"<img src='p.png' style='height:1000px'>", true},
        {"<img src='p.png'>", true},
        {"<img src='p.png' width=20 height=10><img src='p.png'>", true},
    };
    for (const auto& [body, relayout] : cases) {
        SCOPED_TRACE(body);
        const auto loaded =
            load(std::string("<style>img{display:block}</style><body style='margin:0'>") + body);
        const auto ack = pictureAck(url, true, png);
        EXPECT_TRUE(ack.ok && ack.picturesToDecode == 1);
        EXPECT_EQ(ack.relayout, relayout);
        if (relayout) {
            // The layout it asks for sizes its boxes from its header.
            const auto layout = refresh(false);
            EXPECT_GT(layout.contentWidth * layout.contentHeight,
                      loaded.layout.contentWidth * loaded.layout.contentHeight);
        } else {
            // Shown by the next paint, without a layout: the paint decodes what it meets.
            EXPECT_EQ(service.decodedPixelsInAll(), 0u);
            EXPECT_EQ(pixelAt(paint(0, 0, 20, 10), 10, 5), (RGBA{255, 0, 0, 255}));
        }
    }
    load("<link rel=stylesheet href=s.css><img src='p.png' width=20 height=10>", {320, 1, 320}, "text/html",
         "", true);
    EXPECT_TRUE(pictureAck(url, true, png).relayout);
}

// Six pictures, each in a 20-point box of its own, one under the other: paints decode those they
// meet within their time budget, Decodes the rest (those the latest paint met first, then the
// paint's before, then the page's order), and decodes past the pixel budget let go of the least
// recently painted, which are decoded again when painted again.
TEST_F(WebPageServiceTest, PaintsDecodeThePicturesTheyMeetAndDecodesTheRestWithinTheirBudgets) {
    const int kCount = 6;
    const auto urlOf = [](int i) { return "http://site.test/dir/p" + std::to_string(i) + ".png"; };
    const auto shadeOf = [](int i) { return std::uint8_t(40 * (i + 1)); };
    const auto loadPictures = [&] {
        std::string body = "<body style='margin:0'>";
        for (int i = 0; i < kCount; ++i)
            body += "<img src='" + urlOf(i) + "' width=20 height=20 style='display:block'>";
        load(body);
        for (int i = 0; i < kCount; ++i)
            EXPECT_TRUE(picture(urlOf(i), true, pngOf(20, 20, shadeOf(i), 0, 0)));
        EXPECT_EQ(service.picturesToDecode(), std::uint32_t(kCount));
    };
    const auto decodedOnes = [&] {
        std::vector<int> decoded;
        for (int i = 0; i < kCount; ++i)
            if (service.pictureFor(urlOf(i))) decoded.push_back(i);
        return decoded;
    };
    // Paints pictures `from` to `to` and answers which it showed.
    const auto paintPictures = [&](int from, int to) {
        auto pixels = paint(0, 20 * from, 20, 20 * (to - from + 1));
        std::vector<int> shown;
        for (int i = from; i <= to; ++i)
            if (pixelAt(pixels, 10, 20 * (i - from) + 10) == (RGBA{shadeOf(i), 0, 0, 255}))
                shown.push_back(i);
        return shown;
    };
    using Is = std::vector<int>;

    loadPictures();
    paint(100, 0, 20, 20);  // outside every picture
    EXPECT_EQ(paintPictures(1, 2), (Is{1, 2}));
    EXPECT_EQ(decodedOnes(), (Is{1, 2}));

    service.setPaintDecodeBudget(std::chrono::nanoseconds(0));  // one picture per paint
    loadPictures();
    EXPECT_EQ(paintPictures(1, 2), (Is{1}));
    EXPECT_EQ(paintPictures(4, 5), (Is{4}));
    Is decoded{1, 4};
    for (int next : {5, 2, 0, 3}) {
        EXPECT_TRUE(decode().repaint) << next;
        decoded.insert(std::upper_bound(decoded.begin(), decoded.end(), next), next);
        EXPECT_EQ(decodedOnes(), decoded) << next;
    }
    EXPECT_EQ(service.picturesToDecode(), 0u);
    EXPECT_EQ(paintPictures(0, kCount - 1), (Is{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(service.decodedPixelsInAll(), kCount * 20u * 20);  // met again: none decoded twice
    EXPECT_FALSE(decode().repaint);

    service.setPaintDecodeBudget(WebPageService::kPaintDecodeBudget);
    limits.maxDecodedPixelsInAll = 2 * 20 * 20;
    loadPictures();
    const std::uint64_t bytes = service.pictureBytesInAll();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(paintPictures(i, i), Is{i});
    // The least recently painted went; its bytes stay, and it does not wait.
    EXPECT_EQ(decodedOnes(), (Is{1, 2}));
    EXPECT_EQ(service.decodedPixelsInAll(), limits.maxDecodedPixelsInAll);
    EXPECT_EQ(service.pictureBytesInAll(), bytes);
    EXPECT_EQ(service.picturesToDecode(), std::uint32_t(kCount - 3));
    // Painted again, it takes the least recently painted's place; a paint meeting more than fits
    // decodes what fits and leaves the rest empty.
    EXPECT_EQ(paintPictures(0, 0), (Is{0}));
    EXPECT_EQ(decodedOnes(), (Is{0, 2}));
    EXPECT_EQ(paintPictures(3, 5), (Is{3, 4}));
    EXPECT_EQ(decodedOnes(), (Is{3, 4}));
    // What no paint met takes no one's place: each Decode finds it does not fit, and it no longer
    // waits.
    loadPictures();
    EXPECT_EQ(paintPictures(0, 1), (Is{0, 1}));
    for (int left = kCount - 3; left >= 0; --left) {
        const auto reply = decode();
        EXPECT_TRUE(!reply.repaint && reply.picturesToDecode == std::uint32_t(left)) << left;
    }
    EXPECT_EQ(decodedOnes(), (Is{0, 1}));
}

// Bytes for all of them, then a quarter's (the first quarter shows); a paint of all of it, then
// Decodes for what its budget left.
TEST_F(WebPageServiceTest, ThousandsOfSmallDataPicturesAllShowWithinTheBytesOfAll) {
    constexpr int kPictures = 2000;
    std::string body = "<body style='margin:0'>";
    std::size_t bytes = 0;
    for (int i = 0; i < kPictures; ++i) {
        const std::string png = pngOf(8, 8, std::uint8_t(i % 251), std::uint8_t(i / 251 * 20), 200);
        bytes += png.size();
        body += "<img src='" + dataURLOf(png) + "' width=8 height=8 style='display:block'>";
    }
    const std::pair<std::uint64_t, int> cases[] = {{limits.maxPictureBytesInAll, kPictures},
                                                   {bytes / 4, 500}};
    for (const auto& [byteBudget, shows] : cases) {
        SCOPED_TRACE(shows);
        limits.maxPictureBytesInAll = byteBudget;
        EXPECT_NEAR(int(load(body).layout.picturesToDecode), shows, 1);
        paint(0, 0, 8, 8 * kPictures);
        decodeAll();
        const auto pixels = paint(0, 0, 8, 8 * kPictures);
        int shown = 0;
        for (int i = 0; i < kPictures; ++i)
            if (pixelAt(pixels, 4, 8 * i + 4) == (RGBA{i % 251, i / 251 * 20, 200, 255})) {
                ++shown;
                EXPECT_LE(i, shows) << "a later picture shows where an earlier one does not";
            }
        EXPECT_NEAR(shown, shows, 1);
        EXPECT_LE(service.pictureBytesInAll(), byteBudget);
    }
}

// A header that reads over a body that does not: taken in, then failed as a paint meets it, its
// box empty and nothing left waiting. The same URL may come again, whole, and again over its decode.
TEST_F(WebPageServiceTest, DecodesBeforeAnyPageAndGarbageBytesAnswerQuietly) {
    const auto idle = decode();
    EXPECT_TRUE(!idle.repaint && idle.picturesToDecode == 0);
    const std::string url = "http://site.test/dir/g.png";
    load("<body style='margin:0'><img src='g.png' width=10 height=10 style='display:block'></body>");
    std::string broken = pngOf(10, 10, 0, 0, 255);
    for (std::size_t i = 60; i < broken.size(); ++i) broken[i] = char(0x5A ^ i);
    ASSERT_TRUE(picture(url, true, broken));
    EXPECT_EQ(pixelAt(paint(0, 0, 10, 10), 5, 5), (RGBA{0, 0, 0, 0}));
    EXPECT_EQ(service.picturesToDecode(), 0u);
    EXPECT_FALSE(decode().repaint);
    EXPECT_EQ(service.decodedPixelsInAll(), 0u);
    ASSERT_TRUE(picture(url, true, pngOf(10, 10, 0, 0, 255)));
    EXPECT_EQ(pixelAt(paint(0, 0, 10, 10), 5, 5), (RGBA{0, 0, 255, 255}));
    ASSERT_TRUE(picture(url, true, pngOf(10, 10, 0, 255, 0)));
    EXPECT_EQ(decode().picturesToDecode, 0u);
    EXPECT_EQ(pixelAt(paint(0, 0, 10, 10), 5, 5), (RGBA{0, 255, 0, 255}));
}

}  // namespace

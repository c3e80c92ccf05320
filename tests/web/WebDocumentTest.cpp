// The web page renderer: text laid out and drawn where the layout puts it, stylesheets from the
// page and through Resources, the canvas colour, pictures at their CSS size or missing, URLs
// resolved against the base, links under a point, and hostile pages that must finish bounded.

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/web/WebTestPages.h"
#include "web/WebDocument.h"
#include "web/WebPageSource.h"

namespace {

using webtest::Page;
using webtest::repeat;
using webtest::solidPicture;

// A drawn page: a transparent ARGB surface of the document area (0, 0, w, h) at scale 1.
class Drawing {
  public:
    Drawing(WebDocument& doc, int w, int h) : w_(w), h_(h) {
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        cairo_t* cr = cairo_create(surface_);
        doc.draw(cr, CGRectMake(0, 0, w, h));
        status_ = cairo_status(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface_);
    }
    ~Drawing() { cairo_surface_destroy(surface_); }

    cairo_status_t status() const { return status_; }
    // Premultiplied channels of one pixel.
    std::uint32_t at(int x, int y) const {
        auto* data = cairo_image_surface_get_data(surface_);
        int stride = cairo_image_surface_get_stride(surface_);
        return *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
    }
    static int alpha(std::uint32_t p) { return int(p >> 24); }
    static int red(std::uint32_t p) { return int((p >> 16) & 0xFF); }
    static int green(std::uint32_t p) { return int((p >> 8) & 0xFF); }
    static int blue(std::uint32_t p) { return int(p & 0xFF); }

    // Pixels painted at all (alpha above a trace) in a rectangle.
    int inked(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = std::max(0, y0); y < std::min(h_, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(w_, x1); ++x)
                if (alpha(at(x, y)) > 40) ++n;
        return n;
    }
    // The bounding box of painted pixels, or an empty one.
    CGRect inkBounds() const {
        int x0 = w_, y0 = h_, x1 = -1, y1 = -1;
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x)
                if (alpha(at(x, y)) > 40) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
        if (x1 < 0) return CGRectZero;
        return CGRectMake(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    }
    // Pixels whose strongest channel is the given one by a clear margin (0 red, 1 green, 2 blue).
    int dominant(int channel) const {
        int n = 0;
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x) {
                auto p = at(x, y);
                if (alpha(p) > 100 && webtest::clearlyOf(channel, red(p), green(p), blue(p))) ++n;
            }
        return n;
    }

  private:
    int w_, h_;
    cairo_surface_t* surface_;
    cairo_status_t status_;
};

std::unique_ptr<WebDocument> make(const std::string& html, Page& page,
                                  const std::string& base = "http://h.test/a/b.html") {
    return page.make(html, base);
}

TEST(WebDocumentTest, TextIsDrawnWithinTheLinesTheLayoutGives) {
    Page page;
    auto doc = make("<body style='margin:0'><p style='margin:0;font-size:20px'>Hello 你好</p></body>", page);
    CGSize size = doc->layout(300);
    EXPECT_EQ(size.width, 300);
    EXPECT_GT(size.height, 18);
    EXPECT_LT(size.height, 40);
    Drawing d(*doc, 300, 100);
    CGRect ink = d.inkBounds();
    ASSERT_GT(ink.size.width, 40);
    EXPECT_GE(ink.origin.y, 0);
    EXPECT_LE(CGRectGetMaxY(ink), size.height + 1);  // nothing below the laid-out lines
    EXPECT_LT(CGRectGetMaxX(ink), 150);              // one short line from the left
}

TEST(WebDocumentTest, LongLinesWrapAtTheWidthAndANewWidthLaysOutAgain) {
    Page page;
    std::string words;
    for (int i = 0; i < 40; ++i) words += "wheel 轮毂 ";
    auto doc = make("<body style='margin:0'><p style='margin:0'>" + words + "</p></body>", page);
    struct Case {
        int width;
    };
    CGFloat previous = 1e9;
    for (Case c : {Case{120}, Case{240}, Case{480}}) {
        SCOPED_TRACE(c.width);
        CGSize size = doc->layout(c.width);
        EXPECT_EQ(size.width, c.width);
        EXPECT_LT(size.height, previous);  // wider: fewer lines
        previous = size.height;
        Drawing d(*doc, 600, int(size.height) + 20);
        CGRect ink = d.inkBounds();
        EXPECT_LE(CGRectGetMaxX(ink), c.width + 1);
        EXPECT_GT(CGRectGetMaxX(ink), c.width * 0.6);  // lines are filled before they wrap
        EXPECT_GT(CGRectGetMaxY(ink), size.height - 25);
        EXPECT_EQ(d.inked(0, int(size.height) + 2, 600, int(size.height) + 20), 0);
    }
}

// Five 20-point ideographs fill 100 points; the sixth character is punctuation that must not
// start the next line (or end this one, when it opens), so the fifth ideograph moves down with it.
TEST(WebDocumentTest, ChineseTextWrapsBetweenCharactersButKeepsPunctuationWithItsNeighbour) {
    struct Case {
        const char* name;
        const char* text;
        bool fifthMoves;
    };
    const Case cases[] = {
        {"closing", "一二三四五？六", true},
        {"comma", "一二三四五，六", true},
        {"opening", "一二三四（五", true},
        {"plain", "一二三四五六", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        auto doc =
            make(std::string("<body style='margin:0;font-size:20px'><p style='margin:0'>") + c.text + "</p>",
                 page);
        CGSize size = doc->layout(105);
        Drawing d(*doc, 105, int(size.height));
        int firstLine = int(size.height / 2);
        EXPECT_GT(d.inked(0, 0, 20, firstLine), 10);
        EXPECT_GT(d.inked(0, firstLine, 20, int(size.height)), 10);  // two lines
        EXPECT_EQ(d.inked(82, 0, 105, firstLine) == 0, c.fifthMoves);
    }
}

TEST(WebDocumentTest, StylesheetsFromThePageAndThroughResourcesColourText) {
    struct Case {
        const char* name;
        std::string head;
        std::map<std::string, std::string> sheets;
        int channel;
    };
    const Case cases[] = {
        {"style element", "<style>p{color:#ff0000}</style>", {}, 0},
        {"linked",
         "<link rel='stylesheet' href='s.css'>",
         {{"http://h.test/a/s.css", "p{color:rgb(0,200,0)}"}},
         1},
        {"import",
         "<style>@import url(\"../t.css\");</style>",
         {{"http://h.test/t.css", "p{color:#0000ff}"}},
         2},
        {"later rule wins", "<style>p{color:#ff0000}</style><style>p{color:#0000ff}</style>", {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        page.sheets = c.sheets;
        auto doc = make("<html><head>" + c.head +
                            "</head><body><p style='font-size:24px'>Colour 颜色</p></body></html>",
                        page);
        doc->layout(300);
        Drawing d(*doc, 300, 120);
        EXPECT_GT(d.dominant(c.channel), 30);
        for (int other = 0; other < 3; ++other) {
            if (other == c.channel) continue;
            EXPECT_EQ(d.dominant(other), 0);
        }
    }
}

TEST(WebDocumentTest, AMissingStylesheetIsListedAndTheDefaultStyleStays) {
    Page page;
    auto doc = make("<link rel=stylesheet href='gone.css'><p><a href='x'>link</a></p>", page);
    EXPECT_EQ(doc->stylesheetURLs(), std::vector<std::string>{"http://h.test/a/gone.css"});
    doc->layout(300);
    Drawing d(*doc, 300, 100);
    EXPECT_GT(d.dominant(2), 10);  // links are blue by default
}

TEST(WebDocumentTest, CanvasColourFollowsTheRootThenBody) {
    struct Case {
        const char* name;
        std::string html;
        bool expected;
        int r, g, b;
    };
    const Case cases[] = {
        {"html", "<html style='background:#102030'><body style='background:#ffffff'>x</body></html>", true,
         0x10, 0x20, 0x30},
        {"body propagates", "<html><body style='background-color:rgb(200,0,0)'>x</body></html>", true, 200, 0,
         0},
        {"transparent html, body",
         "<html style='background:transparent'><body style='background:#00ff00'>x</body></html>", true, 0,
         255, 0},
        {"none", "<p>x</p>", false, 0, 0, 0},
        {"only a div", "<div style='background:#00f'>x</div>", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        auto doc = make(c.html, page);
        doc->layout(200);
        Ref<UIColor> canvas = doc->canvasColor();
        ASSERT_EQ(bool(canvas), c.expected);
        Drawing d(*doc, 200, 400);
        auto far = d.at(150, 390);  // well below the content: canvas only
        if (!c.expected) {
            EXPECT_EQ(Drawing::alpha(far), 0);
            continue;
        }
        CGFloat r, g, b, a;
        ASSERT_TRUE(canvas->getRed(&r, &g, &b, &a));
        EXPECT_NEAR(r * 255, c.r, 1);
        EXPECT_NEAR(g * 255, c.g, 1);
        EXPECT_NEAR(b * 255, c.b, 1);
        EXPECT_EQ(Drawing::alpha(far), 255);
        EXPECT_NEAR(Drawing::red(far), c.r, 1);
        EXPECT_NEAR(Drawing::green(far), c.g, 1);
        EXPECT_NEAR(Drawing::blue(far), c.b, 1);
    }
}

TEST(WebDocumentTest, PicturesDrawAtTheirCSSSizeAndWithinMaxWidth) {
    struct Case {
        const char* name;
        std::string html;
        std::size_t pw, ph;
        int w, h;
    };
    const Case cases[] = {
        {"css size", "<img src='p.png' style='display:block;width:50px;height:30px'>", 10, 10, 50, 30},
        {"natural size", "<img src='p.png' style='display:block'>", 40, 20, 40, 20},
        {"max-width keeps the ratio",
         "<style>img{max-width:100px}</style><img src='p.png' style='display:block'>", 400, 200, 100, 50},
        {"attributes", "<img src='p.png' width='60' height='20' style='display:block'>", 5, 5, 60, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        page.pictures["http://h.test/a/p.png"] = solidPicture(c.pw, c.ph, 255, 0, 0);
        auto doc = make("<body style='margin:0'>" + c.html + "</body>", page);
        CGSize size = doc->layout(300);
        EXPECT_EQ(size.height, c.h);
        Drawing d(*doc, 300, 200);
        CGRect ink = d.inkBounds();
        EXPECT_EQ(ink.origin.x, 0);
        EXPECT_EQ(ink.origin.y, 0);
        EXPECT_EQ(ink.size.width, c.w);
        EXPECT_EQ(ink.size.height, c.h);
        auto middle = d.at(c.w / 2, c.h / 2);
        EXPECT_EQ(Drawing::red(middle), 255);
        EXPECT_EQ(Drawing::green(middle), 0);
    }
}

TEST(WebDocumentTest, AMissingPictureKeepsItsBoxAndIsAskedForAgainOnTheNextLayout) {
    Page page;
    const std::string html =
        "<body style='margin:0'><img src='late.png' width='80' height='40' style='display:block'>"
        "<img src='none.png' style='display:block'><div style='height:10px;background:#0000ff'></div></body>";
    auto doc = make(html, page);
    CGSize size = doc->layout(200);
    EXPECT_EQ(size.height, 50);  // the sized box and the div; the unsized missing picture takes nothing
    {
        Drawing d(*doc, 200, 60);
        EXPECT_EQ(d.inked(0, 0, 200, 40), 0);
        EXPECT_EQ(Drawing::blue(d.at(5, 45)), 255);
    }
    // The picture arrives: the next layout asks again and draws it.
    page.pictures["http://h.test/a/late.png"] = solidPicture(8, 4, 0, 255, 0);
    size = doc->layout(200);
    EXPECT_EQ(size.height, 50);
    Drawing d(*doc, 200, 60);
    EXPECT_EQ(Drawing::green(d.at(40, 20)), 255);
    EXPECT_EQ(doc->imageURLs(),
              (std::vector<std::string>{"http://h.test/a/late.png", "http://h.test/a/none.png"}));
}

TEST(WebDocumentTest, URLsAreResolvedAgainstTheBaseInFirstAskedOrderWithoutDuplicates) {
    struct Case {
        const char* name;
        std::string base;
        std::vector<std::string> sheets, images;
    };
    const std::string html =
        "<html><head><link rel='stylesheet' href='../s.css'><link rel='stylesheet' href='../s.css'>"
        "<link rel='stylesheet' href='http://cdn.test/x.css'></head><body>"
        "<img src='c.png'><img src='/d.png'><img src='c.png'><img src='http://other.test/e.png'>"
        "<img src='data:image/png;base64,AAAA'><img src='javascript:void(0)'><img src=' sp ace.png '><img "
        "src='https:nohost.png'>"
        "<div style='background-image:url(f.png);width:10px;height:10px'></div></body></html>";
    const Case cases[] = {
        {"http",
         "http://h.test/a/b.html",
         {"http://h.test/s.css", "http://cdn.test/x.css"},
         {"http://h.test/a/c.png", "http://h.test/d.png", "http://other.test/e.png",
          "data:image/png;base64,AAAA", "http://h.test/a/sp%20ace.png", "http://h.test/a/f.png"}},
        {"file",
         "file:///data/pages/q.html",
         {"file:///data/s.css", "http://cdn.test/x.css"},
         {"file:///data/pages/c.png", "file:///d.png", "http://other.test/e.png",
          "data:image/png;base64,AAAA", "file:///data/pages/sp%20ace.png", "file:///data/pages/f.png"}},
        {"no base", "", {"http://cdn.test/x.css"}, {"http://other.test/e.png", "data:image/png;base64,AAAA"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        auto doc = make(html, page, c.base);
        doc->layout(300);
        EXPECT_EQ(doc->stylesheetURLs(), c.sheets);
        EXPECT_EQ(doc->imageURLs(), c.images);
        // A data: URL is asked for as the page wrote it, never resolved.
        for (const auto& url : page.asked) {
            if (url.find("data:") != std::string::npos) {
                EXPECT_EQ(url, "data:image/png;base64,AAAA");
            }
        }
    }
}

TEST(WebDocumentTest, ABaseElementChangesWhereRelativeURLsPoint) {
    Page page;
    auto doc =
        make("<head><base href='http://img.test/root/'></head><img src='p.png'><a href='n.html'>n</a>", page);
    doc->layout(300);
    EXPECT_EQ(doc->imageURLs(), std::vector<std::string>{"http://img.test/root/p.png"});
}

TEST(WebDocumentTest, LinkAtAnswersTheLinkUnderAPointOnly) {
    Page page;
    auto doc = make("<body style='margin:0'><a href='next.html#part' style='display:block;height:40px'>link "
                    "<b>bold</b></a>"
                    "<div style='height:40px'>plain</div><a href='mailto:a@b.test'>mail</a></body>",
                    page);
    doc->layout(300);
    struct Case {
        CGFloat x, y;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {10, 10, "http://h.test/a/next.html#part"},
        {250, 30, "http://h.test/a/next.html#part"},  // the block's whole width
        {10, 60, std::nullopt},
        {10, 85, "mailto:a@b.test"},
        {-5, -5, std::nullopt},
        {10, 5000, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(doc->linkAt(CGPointMake(c.x, c.y)), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Hostile pages.

TEST(WebDocumentTest, HostilePagesFinishWithBoundedResults) {
    struct Case {
        const char* name;
        std::string html;
        CGFloat maxHeight;
    };
    const Case cases[] = {
        {"10,000 nested divs", repeat("<div>", 10000) + "deep" + repeat("</div>", 10000), 1000},
        {"10,000 nested spans and tables", repeat("<span><table><tr><td>", 2500) + "x", 1e6},
        {"nested inline blocks and floats",
         "<style>div{display:inline-block}span{float:left;width:auto}</style>" + repeat("<div><span>", 150) +
             "x",
         1e6},
        {"misnested formatting", repeat("<b><div></b>", 20000) + "x", 1e6},
        {"a 10 MB page", repeat("<p>wheel 轮毂 </p>", 10 << 20 >> 4), 1e8},
        {"huge sizes",
         "<div style='width:99999999px;height:99999999px;font-size:1e9px;border:99999px solid red;"
         "border-radius:99999999px;padding:99999999px'>x</div><p style='font-size:99999999px'>y</p>",
         1e10},
        {"negative sizes",
         "<div style='width:-50px;height:-10px;margin:-99999999px;font-size:-5px;border-width:-3px'>x</div>"
         "<img src='p.png' width='-5' height='-9'>",
         1e10},
        {"huge spans", "<table>" + repeat("<tr><td colspan=99999999 rowspan=99999999>x", 300) + "</table>",
         1e8},
        {"garbage", std::string("\0<\xff\xfe<<>>&#0;&#xD800;<a<b</c></>\x80<!--<!-- -->", 43), 1e6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        page.pictures["http://h.test/a/p.png"] = solidPicture(4, 4, 0, 0, 255);
        auto doc = make(c.html, page);
        CGSize size = doc->layout(375);
        EXPECT_GE(size.width, 375);
        EXPECT_GE(size.height, 1);
        EXPECT_LE(size.height, c.maxHeight);
        Drawing d(*doc, 375, 300);
        EXPECT_EQ(d.status(), CAIRO_STATUS_SUCCESS);
        (void)doc->linkAt(CGPointMake(10, 10));
        (void)doc->canvasColor();
    }
}

TEST(WebDocumentTest, AHugePictureIsDrawnScaledAsABackgroundAndAsAnImage) {
    Page page;
    // 30,000 pixels wide: the renderer scales the picture's own pixels, never a copy at full size.
    page.pictures["http://h.test/a/wide.png"] = solidPicture(30000, 30, 0, 0, 255);
    auto doc =
        make("<body style='margin:0'><img src='wide.png' style='display:block;width:300px;height:20px'>"
             "<div style='height:30px;background:url(wide.png) repeat'></div></body>",
             page);
    CGSize size = doc->layout(375);
    EXPECT_EQ(size.height, 50);
    Drawing d(*doc, 375, 60);
    EXPECT_EQ(Drawing::blue(d.at(150, 10)), 255);
    EXPECT_EQ(Drawing::alpha(d.at(340, 10)), 0);  // the image is 300 wide
    EXPECT_EQ(Drawing::blue(d.at(5, 40)), 255);   // the background tiles its 30,000 points
}

TEST(WebDocumentTest, StylesheetsThatImportEachOtherStop) {
    Page page;
    page.sheets["http://h.test/a/a.css"] = "@import 'b.css'; p{color:#ff0000}";
    page.sheets["http://h.test/a/b.css"] = "@import 'a.css'; @import 'b.css';";
    auto doc = make("<link rel=stylesheet href=a.css><p style='font-size:20px'>x</p>", page);
    EXPECT_EQ(doc->stylesheetURLs(),
              (std::vector<std::string>{"http://h.test/a/a.css", "http://h.test/a/b.css"}));
    doc->layout(300);
    Drawing d(*doc, 300, 100);
    EXPECT_GT(d.dominant(0), 5);
}

// The nesting the layout engine meets stays bounded for the shapes that deepen the parser's tree,
// while ordinary pages that leave paragraphs, items and cells open keep all their elements.
TEST(WebDocumentTest, PageSourceBoundsNestingWithoutCuttingOrdinaryPages) {
    struct Case {
        const char* name;
        std::string html;
        bool capped;
    };
    const Case cases[] = {
        {"nested divs", repeat("<div>", 5000), true},
        {"nested lists", repeat("<ul><li>", 3000), true},
        {"formatting reopened", repeat("<div><b id=x></div>y", 3000), true},
        {"svg style breakout", "<svg><style>" + repeat("<div>", 3000), true},
        {"unclosed paragraphs", repeat("<p>text", 5000), false},
        {"unclosed items", "<ul>" + repeat("<li>item", 5000) + "</ul>", false},
        {"unclosed cells", "<table>" + repeat("<tr><td>a<td>b", 3000) + "</table>", false},
        {"unclosed options", "<select>" + repeat("<option>o", 3000) + "</select>", false},
        {"closed divs", repeat("<div>x</div>", 5000), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        detail::WebPageSourceInfo info;
        std::string source = detail::boundedPageSource(c.html, {}, &info);
        EXPECT_EQ(info.depthCapped, c.capped);
        EXPECT_LE(info.depth, detail::WebPageLimits{}.maxDepth);
        EXPECT_FALSE(info.truncated);
    }
}

// What the engine parses again must mean what the page meant, less what nothing here runs.
TEST(WebDocumentTest, PageSourceWritesBackWhatItRead) {
    struct Case {
        std::string html;
        std::string kept;
        std::string dropped;
    };
    const Case cases[] = {
        {"<style>a > b { content: \"&amp;\" }</style>", "<style>a > b { content: \"&amp;\" }</style>", ""},
        {"<title>a &amp;lt; b</title>", "<title>a &amp;lt; b</title>", ""},
        {"<textarea>&lt;b&gt;</textarea>", "<textarea>&lt;b&gt;</textarea>", "<b>"},
        {"<plaintext><b>x</b>", "<pre>&lt;b&gt;x&lt;/b&gt;</pre>", "<plaintext"},
        {"<p onclick='x()' class=\"a&quot;b\">t</p>", "<p class=\"a&quot;b\">t</p>", "onclick"},
        {"<script>document.write('<b>')</script>after", "after", "script"},
        {"<!-- <div> -->x", "x", "<!--"},
        {"<svg><text>drawn</text></svg>y", "y", "drawn"},
        {"<table><tr><td colspan=99999 rowspan=-4>c</td></tr></table>", "colspan=\"100\" rowspan=\"1\"", ""},
        {"<pre>\n\nline</pre>", "<pre>\n\nline</pre>", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.html);
        std::string source = detail::boundedPageSource(c.html);
        EXPECT_NE(source.find(c.kept), std::string::npos) << source;
        if (c.dropped.empty()) continue;
        EXPECT_EQ(source.find(c.dropped), std::string::npos) << source;
    }
}

TEST(WebDocumentTest, PageSourceKeepsAPrefixWithinItsBounds) {
    detail::WebPageLimits limits;
    limits.maxTags = 100;
    limits.maxElements = 50;
    limits.maxTextBytes = 64;
    struct Case {
        const char* name;
        std::string html;
    };
    const Case cases[] = {
        {"tags", repeat("<br>", 1000)},
        {"elements", repeat("<span>a</span>", 80)},
        {"text", repeat("文字", 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        detail::WebPageSourceInfo info;
        std::string source = detail::boundedPageSource(c.html, limits, &info);
        EXPECT_TRUE(info.truncated);
        EXPECT_LE(info.elements, limits.maxElements);
        EXPECT_LT(source.size(), 2000u);
    }
    detail::WebPageSourceInfo info;
    // A cut text stays valid UTF-8: 文 and 字 are three bytes each, 64 bytes hold 21 of them.
    std::string source = detail::boundedPageSource(repeat("文字", 100), limits, &info);
    EXPECT_NE(source.find(repeat("文字", 10) + "文</"), std::string::npos);
}

}  // namespace

// What a page shows of itself: custom properties within their bounds (an ordinary var() still
// colours text; chains and self-references finish), a page of 100,000 elements and 4 MB of text
// laid out whole, data: URLs handed to Resources as the page wrote them, lists numbered as a
// browser numbers them, and words longer than their line drawn or broken where styles allow.

#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/web/WebTestPages.h"
#include "web/WebDocument.h"
#include "web/WebPageSource.h"

namespace {

using webtest::Page;
using webtest::repeat;
using webtest::solidPicture;

// A page drawn into a white surface: pixels as 0xRRGGBB.
class Drawn {
  public:
    Drawn(WebDocument& doc, int w, int h, CGFloat top = 0) : w_(w), h_(h) {
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
        cairo_t* cr = cairo_create(surface_);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_translate(cr, 0, -top);
        doc.draw(cr, CGRectMake(0, top, w, h));
        cairo_destroy(cr);
        cairo_surface_flush(surface_);
    }
    ~Drawn() { cairo_surface_destroy(surface_); }
    std::uint32_t at(int x, int y) const {
        auto* data = cairo_image_surface_get_data(surface_);
        return *reinterpret_cast<const std::uint32_t*>(data + y * cairo_image_surface_get_stride(surface_) +
                                                       x * 4) &
               0xFFFFFF;
    }
    // Pixels clearly of one primary colour (0 red, 1 green, 2 blue) in a rectangle.
    int count(int channel, int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = std::max(0, y0); y < std::min(h_, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(w_, x1); ++x) {
                auto p = at(x, y);
                if (webtest::clearlyOf(channel, int(p >> 16) & 255, int(p >> 8) & 255, int(p) & 255)) ++n;
            }
        return n;
    }
    // The pixels of a rectangle, for comparing two drawings.
    std::vector<std::uint32_t> area(int x0, int y0, int x1, int y1) const {
        std::vector<std::uint32_t> out;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) out.push_back(at(x, y));
        return out;
    }

  private:
    int w_, h_;
    cairo_surface_t* surface_;
};

std::string varChain(int levels) {
    std::string css = "--v0:" + std::string(100, 'x') + ";";
    for (int i = 1; i <= levels; ++i)
        css += "--v" + std::to_string(i) + ":var(--v" + std::to_string(i - 1) + ") var(--v" +
               std::to_string(i - 1) + ");";
    return css;
}

TEST(WebPageContentTest, CustomPropertiesColourTextAndChainsFinishBounded) {
    struct Case {
        const char* name;
        std::string html;
        int channel;  // the colour the text is drawn in
    };
    const Case cases[] = {
        {"ordinary use", "<style>html{--c:#ff0000}p{color:var(--c)}</style><p>Colour</p>", 0},
        {"through another property",
         "<style>html{--b:#0000ff;--c:var(--b)}p{color:var(--c)}</style><p>Colour</p>", 2},
        {"in a style attribute", "<p style='--c:#00ff00;color:var(--c)'>Colour</p>", 1},
        {"a chain 30 deep in a sheet",
         "<style>html{" + varChain(30) + "}p{color:#0000ff;font-family:var(--v30)}</style><p>Colour</p>", 2},
        {"a chain 30 deep in a style attribute",
         "<div style='" + varChain(30) + "'><p style='color:#ff0000;font-family:var(--v30)'>Colour</p></div>",
         0},
        {"a property naming itself, nested",
         "<style>div{--s:var(--s) var(--s)}p{color:#00ff00}</style><p>Colour</p>" + repeat("<div>", 150) +
             "x",
         1},
        {"a name that is no custom property, nested",
         "<style>div{font-family:var(font-family) var(font-family)}p{color:#ff0000}</style><p>Colour</p>" +
             repeat("<div>", 150) + "x",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        auto doc = page.make("<body style='margin:0;font-size:24px'>" + c.html + "</body>");
        doc->layout(300);
        Drawn d(*doc, 300, 200);
        EXPECT_GT(d.count(c.channel, 0, 0, 300, 200), 30);
    }
}

TEST(WebPageContentTest, APageOf100000ElementsAnd4MBOfTextIsLaidOutWhole) {
    // 99,990 blocks 2 points high, each with 42 bytes of text, then one green block: 4 MB of text
    // in all, and the last block where the styles put it.
    const int blocks = 99990;
    const std::string text = "words about wheels, tyres and a bumper 42";
    std::string html =
        "<style>body{margin:0}div{height:2px;overflow:hidden;font-size:1px}.last{background:#00ff00}"
        "</style>" +
        repeat("<div>" + text + "</div>", blocks) + "<div class=last></div>";
    detail::WebPageSourceInfo info;
    detail::boundedPageSource(html, {}, &info);
    EXPECT_FALSE(info.truncated);
    EXPECT_GT(info.elements, 100000u - 10);
    Page page;
    auto doc = page.make(html);
    CGSize size = doc->layout(375);
    EXPECT_EQ(size.height, 2 * (blocks + 1));
    Drawn d(*doc, 375, 10, size.height - 10);
    EXPECT_EQ(d.at(100, 9), 0x00FF00u);
    EXPECT_EQ(d.at(100, 5), 0xFFFFFFu);
}

TEST(WebPageContentTest, DataURLsReachResourcesAsThePageWroteThem) {
    const std::string base64 =
        "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk";
    const std::string percent =
        "data:image/svg+xml,%3Csvg%20xmlns=%22http://www.w3.org/2000/svg%22%3E%3C/svg%3E";
    const std::string huge = "data:image/png;base64," + std::string(1500000, 'Q') + "==";
    struct Case {
        const char* name;
        std::string html;
        std::string url;
        bool box;  // an <img>, which has a picture box
    };
    const Case cases[] = {
        {"img, base64", "<img src=' " + base64 + "' width=40 height=30>", base64, true},
        {"img, percent-encoded", "<img src=\"" + percent + "\" width=40 height=30>", percent, true},
        {"img, 1.5 MB", "<img src='" + huge + "' width=40 height=30>", huge, true},
        {"CSS background, base64",
         "<style>div{background:url(" + base64 + ");width:40px;height:30px}</style><div></div>", base64,
         false},
        {"CSS background, percent-encoded, quoted",
         "<style>div{background-image:url(\"" + percent + "\");width:40px;height:30px}</style><div></div>",
         percent, false},
        {"CSS background, 1.5 MB, in a style attribute",
         "<div style='background:url(" + huge + ");width:40px;height:30px'></div>", huge, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        page.pictures[c.url] = solidPicture(4, 4, 255, 0, 0);
        auto doc = page.make("<body style='margin:0'>" + c.html + "</body>");
        doc->layout(300);
        ASSERT_FALSE(page.asked.empty());
        for (const auto& url : page.asked) EXPECT_EQ(url, c.url);
        EXPECT_EQ(doc->imageURLs(), std::vector<std::string>{c.url});
        if (c.box) {
            ASSERT_EQ(doc->pictureBoxes().count(c.url), 1u);
            EXPECT_EQ(doc->pictureBoxes().at(c.url).width, 40);
            EXPECT_EQ(page.sized, std::vector<std::string>(page.sized.size(), c.url));
        }
        Drawn d(*doc, 300, 60);
        EXPECT_EQ(d.at(20, 15), 0xFF0000u);
    }
}

// A picture known by its natural size alone lays out at it (and says so); its pixels are asked for
// as it is drawn, where its box shows in the area drawn, so one that comes after the layout shows
// in the next draw, and one let go is drawn no more.
TEST(WebPageContentTest, PicturesLayOutAtTheirNaturalSizeUndecodedAndShowAsTheyAreDrawn) {
    const std::string a = "http://h.test/a/a.png", b = "http://h.test/a/b.png";
    Page page;
    auto resources = page.resources();
    resources.imageSize = [&](const std::string& url) -> std::optional<CGSize> {
        return url == a ? std::optional(CGSizeMake(60, 40)) : std::nullopt;
    };
    auto doc = WebDocument::create("<body style='margin:0'><img src='a.png' style='display:block'>"
                                   "<img src='b.png' width=30 height=20 style='display:block'></body>",
                                   "http://h.test/a/b.html", resources);
    EXPECT_EQ(doc->layout(200).height, 60);
    EXPECT_TRUE(doc->pictureBoxes().at(a).sizedByPicture);
    EXPECT_FALSE(doc->pictureBoxes().at(b).sizedByPicture);
    EXPECT_EQ(Drawn(*doc, 200, 60).count(0, 0, 0, 200, 60), 0);
    // Decoded after the layout (smaller than it shows), then drawn without another layout.
    page.pictures = {{a, solidPicture(30, 20, 255, 0, 0)}, {b, solidPicture(30, 20, 0, 0, 255)}};
    Drawn both(*doc, 200, 60);
    EXPECT_EQ(both.at(30, 20), 0xFF0000u);
    EXPECT_EQ(both.count(0, 0, 0, 200, 60), 60 * 40);
    page.pictures.erase(a);
    doc->pictureChanged(a);
    Drawn one(*doc, 200, 60);
    EXPECT_EQ(one.count(0, 0, 0, 200, 40), 0);
    EXPECT_EQ(one.at(15, 50), 0x0000FFu);
    page.asked.clear();
    Drawn top(*doc, 200, 40);
    EXPECT_EQ(page.asked, std::vector<std::string>{a});
}

// The stylesheets a scan of the tags finds are those the built page asks for (it asks for its
// links' before its style elements' imports); hostile text ends the scan quietly; it finds at
// most as many as asked for, in the page's order.
TEST(WebPageContentTest, TheLinkedStylesheetsAScanFindsAreThoseTheBuildAsksFor) {
    const std::string base = "http://h.test/a/b.html";
    const auto scan = [&](const std::string& html, std::size_t most = 100) {
        return WebDocument::linkedStylesheetURLs(html, base, most);
    };
    const auto sorted = [](std::vector<std::string> urls) {
        std::sort(urls.begin(), urls.end());
        return urls;
    };
    for (const std::string html :
         {"<link rel=stylesheet href=one.css><link rel=stylesheet href='one.css'><p>x</p>",
          "<head><base href='/root/'><link rel=stylesheet href=\"s.css?a=1&amp;b=&#x32;\"></head>",
          "<style>@IMPORT url( 'i.css' ); @import \"j.css\";</style><link rel=stylesheet href=k.css>"
          "<style>@import url( 'l.css' );</style><style>@IMPORT url(m.css);</style>"
          "<style>p{} @import url(n.css);</style>",
          "<title><link rel=stylesheet href=no.css></title><textarea><link rel=stylesheet href=no2.css>"
          "</textarea><link rel=stylesheet href=yes.css>",
          "<link rel=stylesheet href=data:text/css,p{}><link rel=stylesheet href=//cdn.test/c.css>"}) {
        Page page;
        EXPECT_EQ(sorted(scan(html)), sorted(page.make(html, base)->stylesheetURLs())) << html;
    }
    for (const std::string& html :
         {std::string("<link rel=stylesheet href='never closed"),
          std::string("<!-- <link rel=stylesheet href=a.css>"), std::string("<style>@import url(a.css"),
          std::string("<style>@import '"), std::string("<link rel=stylesheet href=&#xFFFFFFFFFF;>"),
          std::string("<link rel=stylesheet href=\"&#0;&#xD800;&#;\">"),
          std::string("<link\0rel=stylesheet href=a.css>", 32), std::string("<<<<</</<!<?<a<")})
        for (const auto& url : scan(html))
            EXPECT_EQ(url.rfind("http://h.test/", 0), 0u) << html << " found " << url;
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "<link rel=stylesheet href=s" + std::to_string(i) + ".css>";
    const auto found = scan(many, 64);
    ASSERT_EQ(found.size(), 64u);
    EXPECT_EQ(found.front(), "http://h.test/a/s0.css");
    EXPECT_EQ(found.back(), "http://h.test/a/s63.css");
}

TEST(WebPageContentTest, ListsAreNumberedAsABrowserNumbersThem) {
    // Each item's marker is compared with the marker a plain list draws for the expected number.
    const std::string style = "<style>body{margin:0;font:16px/20px sans-serif}ol{margin:0}</style>";
    Page referencePage;
    auto reference = referencePage.make(style + "<ol>" + repeat("<li>x", 12) + "</ol>");
    reference->layout(300);
    Drawn ref(*reference, 300, 240);
    auto marker = [](const Drawn& d, int row) { return d.area(0, row * 20, 40, row * 20 + 20); };
    struct Case {
        const char* name;
        std::string list;
        std::vector<int> numbers;  // of the items shown, in order
    };
    const Case cases[] = {
        {"start", "<ol start=8><li>a<li>b<li>c</ol>", {8, 9, 10}},
        {"start with a sign and junk", "<ol start=' +4x'><li>a<li>b</ol>", {4, 5}},
        {"reversed", "<ol reversed><li>a<li>b<li>c</ol>", {3, 2, 1}},
        {"reversed from a start", "<ol reversed start=11><li>a<li>b</ol>", {11, 10}},
        {"an item's value, then on from it", "<ol><li>a<li value=7>b<li>c</ol>", {1, 7, 8}},
        {"a hidden item is not counted", "<ol><li>a<li style='display:none'>b<li>c</ol>", {1, 2}},
        {"a start that is no number", "<ol start=x><li>a<li>b</ol>", {1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        auto doc = page.make(style + c.list);
        CGSize size = doc->layout(300);
        EXPECT_EQ(size.height, 20 * c.numbers.size());
        Drawn d(*doc, 300, 240);
        for (std::size_t row = 0; row < c.numbers.size(); ++row) {
            SCOPED_TRACE(c.numbers[row]);
            EXPECT_EQ(marker(d, int(row)), marker(ref, c.numbers[row] - 1));
        }
    }
}

TEST(WebPageContentTest, AWordLongerThanItsLineIsDrawnAndBrokenWhereStylesAllow) {
    struct Case {
        const char* name;
        const char* style;
        bool broken;
    };
    const Case cases[] = {
        {"no break allowed: drawn overflowing", "", false},
        {"word-wrap", "word-wrap:break-word", true},
        {"overflow-wrap", "overflow-wrap:break-word", true},
        {"word-break", "word-break:break-all", true},
    };
    const std::string word(150000, 'W');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        auto doc = page.make(
            std::string(
                "<body style='margin:0'><p style='margin:0;font:20px/30px sans-serif;color:#ff0000;") +
            c.style + "'>" + word + "</p></body>");
        CGSize size = doc->layout(300);
        Drawn d(*doc, 300, 120);
        // The first line is drawn across the view.
        EXPECT_GT(d.count(0, 0, 0, 30, 30), 20);
        EXPECT_GT(d.count(0, 270, 0, 300, 30), 20);
        if (c.broken) {
            EXPECT_GT(size.height, 30 * 1000);
            EXPECT_GT(d.count(0, 0, 30, 30, 60), 20);  // the second line
            EXPECT_LE(size.width, 300);
        } else {
            EXPECT_EQ(size.height, 30);
            EXPECT_GT(size.width, 300 * 1000);
        }
    }
}

}  // namespace

// Words join into pieces (which lines do not break) only past the piece budget, evenly: never on
// an ordinary page, however much white space it is indented with.
TEST(WebPageContentTest, WordsJoinOnlyPastTheBudgetAndEvenly) {
    const auto height = [](const std::string& text) {
        const std::string box =
            "<body style=\"margin:0\"><div style=\"width:60px;font:10px/10px sans-serif\">";
        Page page;
        return page.make(box + text + "</div>")->layout(375).height;
    };
    const std::string words = "aaa bbb ccc ddd eee fff";
    const double plain = height(words);
    EXPECT_GE(plain, 20);
    for (const std::string& indent : {std::string("\n      "), std::string("\n\t\t"), repeat("\n  ", 50)}) {
        SCOPED_TRACE(indent.size());
        EXPECT_EQ(height(indent + words), plain);
        EXPECT_EQ(height(indent + words + indent + "<b>x</b>" + indent + words),
                  height(words + " <b>x</b> " + words));
    }
}

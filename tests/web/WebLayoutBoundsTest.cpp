// What the page renderer's layout bounds keep and what they drop: floats past the page's float
// bound laid out in the flow, z-index levels merged in order past their bound, font faces past
// theirs taking the nearest size loaded, words and spaces past their bound left out, and white
// space between tags cut to its first character past its bound; the page still lays out and draws.

#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/web/WebTestPages.h"
#include "web/WebDocument.h"
#include "web/WebPageSource.h"

namespace {

constexpr int kFloatBound = 2000;
constexpr int kTextPieceBound = 768 << 10;

using webtest::repeat;

// The page's source with one of its bounds set to `value`, the rest as they are by default.
std::string boundedBy(const std::string& html, std::size_t detail::WebPageLimits::*bound, std::size_t value,
                      detail::WebPageSourceInfo& info) {
    detail::WebPageLimits limits;
    limits.*bound = value;
    return detail::boundedPageSource(html, limits, &info);
}

std::unique_ptr<WebDocument> page(const std::string& html) {
    WebDocument::Resources resources;
    resources.image = [](const std::string&) -> Ref<CGImage> { return nullptr; };
    return WebDocument::create(html, "", resources);
}

double heightOf(const std::string& html, CGFloat width = 375) {
    return page(html)->layout(width).height;
}

// The colour drawn at a point of a page laid out at 375 points, as 0xRRGGBB (alpha dropped).
std::uint32_t colourAt(WebDocument& doc, int x, int y) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 375, 100);
    cairo_t* cr = cairo_create(surface);
    doc.draw(cr, CGRectMake(0, 0, 375, 100));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    auto* data = cairo_image_surface_get_data(surface);
    std::uint32_t p =
        *reinterpret_cast<const std::uint32_t*>(data + y * cairo_image_surface_get_stride(surface) + x * 4);
    cairo_surface_destroy(surface);
    return p & 0xFFFFFF;
}

TEST(WebLayoutBoundsTest, FloatsPastTheBoundAreLaidOutInTheFlow) {
    // 1 x 1 floats pack 375 to a row; past the bound each is a block of its own in the flow, a
    // line lower than the one before (in-flow blocks start at the top, beside the floats).
    struct Row {
        int floats;
        double atLeast, atMost;
    } rows[] = {
        {375, 1, 1},
        {kFloatBound, 6, 6},
        {kFloatBound + 10, 10, 10},
        {kFloatBound + 300, 300, 300},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.floats);
        const double h =
            heightOf("<style>body{margin:0}i{float:left;width:1px;height:1px;display:block}</style>" +
                     repeat("<i></i>", row.floats));
        EXPECT_GE(h, row.atLeast);
        EXPECT_LE(h, row.atMost);
    }
}

// The bounds are taken again when the page is styled again: at a width where its media queries
// make thousands of floats, and back.
TEST(WebLayoutBoundsTest, FloatsPastTheBoundStayInTheFlowWhenAWidthStylesThemAgain) {
    auto doc = page("<style>body{margin:0}i{width:1px;height:1px;display:block}"
                    "@media (min-width:500px){i{float:left}}</style>" +
                    repeat("<i></i>", kFloatBound + 300));
    struct Row {
        CGFloat width;
        double height;
    } rows[] = {{375, kFloatBound + 300}, {600, 300}, {600, 300}, {375, kFloatBound + 300}, {600, 300}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.width);
        EXPECT_EQ(doc->layout(row.width).height, row.height);
    }
}

TEST(WebLayoutBoundsTest, ZIndexLevelsKeepTheirOrderAndSidePastTheBound) {
    const std::string box = "position:absolute;left:0;top:0;width:20px;height:20px;";
    // Boxes at another place, each a level of its own, take the page past the level bound.
    auto levels = [](int from, int count, int step) {
        std::string out;
        for (int i = 0; i < count; ++i)
            out += "<div style=\"position:absolute;left:200px;top:0;width:5px;height:5px;z-index:" +
                   std::to_string(from + i * step) + "\"></div>";
        return out;
    };
    struct Row {
        const char* name;
        std::string html;
        std::uint32_t colour;
    } rows[] = {
        {"within the bound, the highest level on top though it comes first",
         "<div style=\"" + box + "z-index:60;background:#ff0000\"></div>" +
             [&] {
                 std::string greens;
                 for (int z = 1; z < 60; ++z)
                     greens += "<div style=\"" + box + "z-index:" + std::to_string(z) +
                               ";background:#00ff00\"></div>";
                 return greens;
             }(),
         0xFF0000},
        {"past the bound, a far higher level still on top though it comes first",
         "<div style=\"" + box + "z-index:100000;background:#ff0000\"></div><div style=\"" + box +
             "z-index:1;background:#00ff00\"></div>" + levels(2, 300, 1),
         0xFF0000},
        {"past the bound, a negative level stays under the page's blocks",
         "<div style=\"" + box + "z-index:-100000;background:#ff0000\"></div>" +
             "<div style=\"width:40px;height:40px;background:#0000ff\"></div>" + levels(-2, 300, -1),
         0x0000FF},
        {"past the bound, a positive level stays over the page's blocks",
         "<div style=\"width:40px;height:40px;background:#0000ff\"></div><div style=\"" + box +
             "z-index:1;background:#00ff00\"></div>" + levels(-2, 300, -1) + levels(2, 300, 1),
         0x00FF00},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto doc = page("<body style=\"margin:0\">" + row.html + "</body>");
        doc->layout(375);
        EXPECT_EQ(colourAt(*doc, 10, 10), row.colour);
    }
}

TEST(WebLayoutBoundsTest, FontFacesPastTheBoundTakeTheNearestSizeLoaded) {
    // The page loads `faces` sizes (10 px up) before a line in a 300 px font.
    auto withBigLine = [](int faces, bool big) {
        std::string html = "<body style=\"margin:0\"><div>";
        for (int i = 0; i < faces; ++i)
            html += "<span style=\"font-size:" + std::to_string(10 + i) + "px\">f</span>";
        html += "</div>";
        if (big) html += "<div style=\"font-size:300px\">Big</div>";
        return html + "</body>";
    };
    struct Row {
        int faces;
        double atLeast, atMost;  // the height the big line adds
    } rows[] = {
        {10, 300, 500}, {200, 100, 200},  // the 128th face loaded, 137 px, is the nearest
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.faces);
        const double added = heightOf(withBigLine(row.faces, true)) - heightOf(withBigLine(row.faces, false));
        EXPECT_GE(added, row.atLeast);
        EXPECT_LE(added, row.atMost);
    }
}

TEST(WebLayoutBoundsTest, WordsAndSpacesPastTheBoundAreLeftOut) {
    // One word and one line break a line, in preserved white space 1 px high.
    struct Row {
        int lines;
        int shown;
    } rows[] = {
        {1000, 1000},
        {kTextPieceBound / 2 + 5000, kTextPieceBound / 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lines);
        const double h =
            heightOf("<body style=\"margin:0\"><div style=\"white-space:pre;font:1px/1px sans-serif\">" +
                     repeat("a\n", row.lines) + "</div></body>");
        EXPECT_GE(h, row.shown);
        EXPECT_LE(h, row.shown + 2);
    }
}

TEST(WebLayoutBoundsTest, WhiteSpaceBetweenTagsPastTheBoundKeepsItsFirstCharacter) {
    auto tabs = [](const std::string& s) { return std::count(s.begin(), s.end(), '\t'); };
    struct Row {
        const char* name;
        std::string html;
        long written;
        bool cut;
    } rows[] = {
        {"within the bound", "<p>a</p>\t\t\t<p>b</p>", 3, false},
        {"a run past the bound keeps what fits", "<p>a</p>" + std::string(20, '\t') + "<p>b</p>", 8, true},
        {"runs past the bound keep a character each", "<p>" + repeat("<b>x</b>\t\t", 10) + "</p>", 8 + 6,
         true},
        {"white space within words is text, not bounded here", "<p>a" + std::string(20, '\t') + "b</p>", 20,
         false},
        {"a preserving element's white space is bounded too",
         "<pre>x</pre><pre>" + std::string(20, '\t') + "</pre>", 8, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        detail::WebPageSourceInfo info;
        const std::string out = boundedBy(row.html, &detail::WebPageLimits::maxWhitespaceBytes, 8, info);
        EXPECT_EQ(tabs(out), row.written) << out;
        EXPECT_EQ(info.whitespaceCut, row.cut);
        EXPECT_FALSE(info.truncated);
    }
}

TEST(WebLayoutBoundsTest, TheNestingWeightKeepsFlatAndSingleDeepPagesAndCutsManyDeepOnes) {
    auto chains = [](int count, int depth) {
        std::string out;
        for (int i = 0; i < count; ++i) out += repeat("<div>", depth) + "x" + repeat("</div>", depth);
        return out;
    };
    // Each chain of 190 under html and body weighs 3 + 4 + ... + 192 = 18,525.
    constexpr std::size_t kChain = 18525;
    constexpr std::size_t kRoom = (std::size_t(1) << 22) - 5;  // html 1, head 2, body 2
    struct Row {
        const char* name;
        std::string html;
        bool truncated;
        std::size_t elements;
    } rows[] = {
        {"29,000 paragraphs side by side", repeat("<p>w</p>", 29000), false, 29003},
        {"one chain at the depth bound", chains(1, 190), false, 193},
        {"as many chains as the weight holds", chains(int(kRoom / kChain), 190), false,
         3 + kRoom / kChain * 190},
        {"300 chains: cut in the first chain past the weight", chains(300, 190), true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        detail::WebPageSourceInfo info;
        detail::boundedPageSource(row.html, {}, &info);
        EXPECT_EQ(info.truncated, row.truncated);
        EXPECT_LE(info.nestingWeight, std::size_t(1) << 22);
        if (!row.truncated) {
            EXPECT_EQ(info.elements, row.elements);
        } else {
            EXPECT_GT(info.elements, 3 + kRoom / kChain * 190);
            EXPECT_LT(info.elements, 3 + (kRoom / kChain + 1) * 190);
        }
    }
    // What is kept lays out and shows.
    auto doc = page("<body style=\"margin:0\">" + chains(300, 190) + "</body>");
    EXPECT_GE(doc->layout(375).height, kRoom / kChain * 10);
}

TEST(WebLayoutBoundsTest, ATableWhoseGridPassesTheBoundKeepsTheFirstColumnsOfEachRow) {
    // A bound of 12 cells.
    struct Row {
        const char* name;
        std::string html;
        std::size_t cells;
        std::string spans;  // the colspans written, in order
        bool cut;
    } rows[] = {
        {"a grid within the bound", "<table><tr><td>a<td>b<td>c<tr><td>d<td>e<td>f</table>", 6, "", false},
        {"a grid at the bound", "<table>" + repeat("<tr><td>a<td>b<td>c", 4) + "</table>", 12, "", false},
        {"one wide row over narrow ones",
         "<table><tr>" + repeat("<td>w", 8) + repeat("<tr><td>n", 3) + "</table>", 3 + 3, "", true},
        {"a span cut at the edge",
         "<table><tr><td>a<td colspan=5>b<td>c" + repeat("<tr><td>n", 3) + "</table>", 2 + 3, "colspan=\"2\"",
         true},
        {"rows in a body and a head",
         "<table><thead><tr><td colspan=7>h</thead><tbody><tr><td>b<tr><td>c</tbody></table>", 3,
         "colspan=\"4\"", true},
        {"a table nested in a cut one keeps its own grid",
         "<table><tr><td><table><tr><td>1<td>2<td>3</table>" + repeat("<td>w", 7) + repeat("<tr><td>n", 3) +
             "</table>",
         3 + 3 + 3, "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        detail::WebPageSourceInfo info;
        const std::string out = boundedBy(row.html, &detail::WebPageLimits::maxTableCells, 12, info);
        EXPECT_EQ(webtest::occurrences(out, "<td"), row.cells) << out;
        if (!row.spans.empty()) {
            EXPECT_NE(out.find(row.spans), std::string::npos) << out;
        }
        EXPECT_EQ(info.gridCut, row.cut);
    }
    // What is kept lays out: one row of 14,000 cells over 14,000 rows of one.
    auto doc =
        page("<table><tr>" + repeat("<td>w</td>", 14000) + repeat("<tr><td>c</td></tr>", 14000) + "</table>");
    EXPECT_GT(doc->layout(375).height, 14000);
}

TEST(WebLayoutBoundsTest, AMegabyteOfLineBreaksShowsTheBoundsWorthAndTheTextAfter) {
    // The text node of line breaks alone is cut to the white space bound; the word after stays.
    const std::string html =
        "<body style=\"margin:0\"><div style=\"white-space:pre;font:1px/1px sans-serif\">" +
        std::string((1u << 20) - 200, '\n') + "</div><p style=\"margin:0\">after</p></body>";
    detail::WebPageSourceInfo info;
    const std::string source = detail::boundedPageSource(html, {}, &info);
    EXPECT_TRUE(info.whitespaceCut);
    EXPECT_NE(source.find("after"), std::string::npos);
    const double h = heightOf(html);
    EXPECT_GE(h, double(1u << 17));
    EXPECT_LE(h, double(1u << 17) + 40);
}

}  // namespace

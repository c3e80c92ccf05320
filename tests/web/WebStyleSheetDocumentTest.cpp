// Pages whose stylesheets are hostile (selector chains and @media nested 10,000 deep, inline or
// linked or imported) lay out and draw, and the ordinary rule beside the hostile one still
// colours the text.

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <map>
#include <string>

#include "tests/web/WebTestPages.h"
#include "web/WebDocument.h"

namespace {

using webtest::repeat;

// Pixels drawn clearly red.
int redPixels(WebDocument& doc, int w, int h) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    doc.draw(cr, CGRectMake(0, 0, w, h));
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const auto* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface), n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto p = *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
            int a = int(p >> 24), r = int((p >> 16) & 0xFF), g = int((p >> 8) & 0xFF), b = int(p & 0xFF);
            if (a > 100 && webtest::clearlyOf(0, r, g, b)) ++n;
        }
    cairo_surface_destroy(surface);
    return n;
}

TEST(WebStyleSheetDocumentTest, HostileSheetsLayOutAndTheRuleBesideThemApplies) {
    const std::string normal = ".k{color:#ff0000}";
    const std::string chain = repeat("a ", 10000) + "p{color:#0000ff}";
    const std::string children = repeat("div > ", 10000) + "p{color:#0000ff}";
    const std::string media = repeat("@media screen{", 10000) + "p{color:#0000ff}" + repeat("}", 10000);
    struct Case {
        const char* name;
        std::string head;
        std::map<std::string, std::string> sheets;
    };
    const Case cases[] = {
        {"inline chain", "<style>" + chain + normal + "</style>", {}},
        {"inline children", "<style>" + children + normal + "</style>", {}},
        {"inline nested @media", "<style>" + media + normal + "</style>", {}},
        {"linked chain", "<link rel=stylesheet href='s.css'>", {{"http://h.test/a/s.css", chain + normal}}},
        {"imported nested @media",
         "<style>@import 'm.css';</style>",
         {{"http://h.test/a/m.css", media + normal}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebDocument::Resources resources;
        resources.stylesheet = [&](const std::string& url) -> std::optional<std::string> {
            auto found = c.sheets.find(url);
            if (found == c.sheets.end()) return std::nullopt;
            return found->second;
        };
        auto doc = WebDocument::create("<html><head>" + c.head +
                                           "</head><body><p class=k style='font-size:24px'>Colour</p></body>",
                                       "http://h.test/a/b.html", resources);
        CGSize size = doc->layout(300);
        EXPECT_GT(size.height, 20);
        EXPECT_GT(redPixels(*doc, 300, 100), 30);
    }
}

}  // namespace

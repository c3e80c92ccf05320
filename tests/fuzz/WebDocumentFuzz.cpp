// The web page renderer: the input is a page and a stylesheet (split at the first NUL byte; the
// stylesheet is served for every stylesheet URL the page asks for). Pictures are small decoded
// images for URLs whose name holds "pic", one 30,000 pixels wide for "wide", and missing for
// the rest. The page is laid out at two widths and drawn onto a small cairo surface; whatever the
// page says, the results must stay consistent and the drawing context usable.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "uikit/WebDocument.h"

namespace {

Ref<CGImage> picture(std::size_t w, std::size_t h) {
    std::vector<std::uint8_t> px(w * h * 4, 0xFF);
    for (std::size_t i = 0; i < w * h; ++i) px[i * 4] = std::uint8_t(i);
    return detail::makeBGRAImage(w, h, NSData(std::move(px)), false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Ref<CGImage> small = picture(7, 5);
    static const Ref<CGImage> wide = picture(30000, 2);
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\0');
    std::string html = input.substr(0, split);
    std::string css = split == std::string::npos ? std::string() : input.substr(split + 1);

    WebDocument::Resources resources;
    resources.stylesheet = [&](const std::string& url) -> std::optional<std::string> {
        FUZZ_CHECK(!url.empty());
        return css;
    };
    resources.image = [](const std::string& url) -> Ref<CGImage> {
        if (url.find("wide") != std::string::npos) return wide;
        if (url.find("pic") != std::string::npos) return small;
        return nullptr;
    };
    auto doc = WebDocument::create(html, "http://fuzz.test/dir/page.html", resources);
    FUZZ_CHECK(doc);
    for (const auto* urls : {&doc->stylesheetURLs(), &doc->imageURLs()}) {
        std::vector<std::string> sorted = *urls;
        std::sort(sorted.begin(), sorted.end());
        FUZZ_CHECK(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end());
        for (const auto& url : sorted)
            FUZZ_CHECK(url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0 ||
                       url.rfind("file:", 0) == 0);
    }

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    for (CGFloat width : {320.0, 41.0}) {
        CGSize content = doc->layout(width);
        FUZZ_CHECK(content.width >= width);
        FUZZ_CHECK(content.height >= 1);
        FUZZ_CHECK(std::isfinite(content.width) && std::isfinite(content.height));
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, 2, 2);
        doc->draw(cr, CGRectMake(0, 0, 32, 32));
        cairo_translate(cr, 0, -std::min(content.height, 1e6) / 2);
        doc->draw(cr, CGRectMake(0, std::min(content.height, 1e6) / 2, 32, 32));
        FUZZ_CHECK(cairo_status(cr) == CAIRO_STATUS_SUCCESS);
        cairo_destroy(cr);
        (void)doc->linkAt(CGPointMake(5, 5));
        (void)doc->canvasColor();
    }
    cairo_surface_destroy(surface);
    return 0;
}

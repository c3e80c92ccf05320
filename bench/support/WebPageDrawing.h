#pragma once
// What the web view does with a page on each load and stylesheet refresh, for the benchmarks that
// time it on the calling thread: the page with its one linked stylesheet built, laid out at a
// phone's width and drawn into a surface (at most its height of the page).

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <algorithm>
#include <optional>
#include <string>

#include "web/WebDocument.h"

namespace benchsupport {

inline void buildLayOutAndDraw(const std::string& body, const std::string& sheet, cairo_surface_t* surface,
                               CGFloat width) {
    WebDocument::Resources resources;
    resources.stylesheet = [&sheet](const std::string&) -> std::optional<std::string> { return sheet; };
    resources.image = [](const std::string&) -> Ref<CGImage> { return nullptr; };
    auto doc = WebDocument::create(
        "<html><head><link rel=\"stylesheet\" href=\"http://bench.test/s.css\"></head><body>" + body +
            "</body></html>",
        "http://bench.test/", resources);
    CGSize size = doc->layout(width);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    doc->draw(
        cr, CGRectMake(0, 0, width, std::min<CGFloat>(size.height, cairo_image_surface_get_height(surface))));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
}

}  // namespace benchsupport

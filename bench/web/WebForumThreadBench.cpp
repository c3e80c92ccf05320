// Whole pages styled by the page engine's selector matching, as a web view shows them on load:
// built, styled, laid out at a phone's 320 points and the first screen (320 x 480 at scale 2)
// drawn, on one core (letting the page go afterwards is not counted: it is the next load's cost).
//   - forum_thread: 2,400 posts (about 29,000 elements) under a reset and about 1,000 site rules;
//   - article: 5,000 paragraphs under about 200 rules;
//   - nested_not: 20 rules of :not() nested 160 deep over 3,000 paragraphs;
//   - many_classes: 40 elements of 5,000 classes each against 19,000 class rules;
//   - data_background: a rule with a 1 MB data: background over 1,000 elements beside ordinary rules.
// Ends with "ratio web_matching_<case> <CPU seconds per page / 1 s>" (target: at most 1.0) and, from
// the same run as the reference, the same tree without its rules.

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <memory>
#include <string>

#include "bench/support/RulesAgainstTree.h"
#include "bench/support/WebStyledPages.h"
#include "web/WebDocument.h"

namespace {

constexpr CGFloat kWidth = 320, kHeight = 480, kScale = 2;
constexpr double kTargetMs = 1000;

using benchsupport::StyledPage;

std::unique_ptr<WebDocument> showFirstScreen(const StyledPage& page, cairo_surface_t* surface) {
    WebDocument::Resources resources;
    resources.stylesheet = [&page](const std::string&) -> std::optional<std::string> { return page.sheet; };
    resources.image = [](const std::string&) -> Ref<CGImage> { return nullptr; };
    auto doc = WebDocument::create(
        "<html><head><link rel=\"stylesheet\" href=\"http://bench.test/s.css\"></head><body>" + page.body +
            "</body></html>",
        "http://bench.test/", resources);
    CGSize size = doc->layout(kWidth);
    benchmark::DoNotOptimize(size);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, kScale, kScale);
    doc->draw(cr, CGRectMake(0, 0, kWidth, kHeight));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    return doc;
}

void run(benchmark::State& state, StyledPage (*make)(bool), bool rules) {
    const StyledPage page = make(rules);
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(kWidth * kScale), int(kHeight * kScale));
    for (auto _ : state) {
        auto doc = showFirstScreen(page, surface);
        // Letting the page go is the next load's cost, not this one's.
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    cairo_surface_destroy(surface);
}

StyledPage forum(bool rules) {
    return benchsupport::forumThread(2400, rules);
}
StyledPage article(bool rules) {
    return benchsupport::article(5000, rules);
}
StyledPage nestedNot(bool rules) {
    return benchsupport::nestedNot(3000, 20, 160, rules);
}
StyledPage manyClasses(bool rules) {
    return benchsupport::manyClasses(40, 5000, 19000, rules);
}
StyledPage dataBackground(bool rules) {
    return benchsupport::dataBackground(1000, std::size_t(1) << 20, rules);
}

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::runRulesAgainstTree(
        argc, argv, "web_matching_",
        {
            {"forum_thread", [](benchmark::State& s, bool rules) { run(s, forum, rules); }},
            {"article", [](benchmark::State& s, bool rules) { run(s, article, rules); }},
            {"nested_not", [](benchmark::State& s, bool rules) { run(s, nestedNot, rules); }},
            {"many_classes", [](benchmark::State& s, bool rules) { run(s, manyClasses, rules); }},
            {"data_background", [](benchmark::State& s, bool rules) { run(s, dataBackground, rules); }},
        },
        kTargetMs, "built, styled, laid out and first screen drawn");
}

// Pages whose selectors the layout engine's own matching never finishes, built, styled, laid out
// at a phone's 375 points and drawn by the web page renderer, as the view does on each load and
// stylesheet refresh. One core, one thread: every step runs on the caller's (the main) thread.
//   - nested: 190 nested <div>s and "span div div div div div div div" (no span on the page);
//   - siblings: 20,000 sibling <p>s and "span ~ p ~ p ~ p";
//   - class_rules: 20,000 rules ".cN p" over 29,000 paragraphs in three wrappers;
//   - over_budget: 20,000 rules "p" over 29,000 paragraphs, which meets the matching budget;
//   - long_list: a numbered list of 20,000 items, each numbering itself among those before it.
// Ends with "ratio web_selectors_<case> <seconds per page / 1 s>" (target: at most 1.0) and, from
// the same run as the reference, the same tree without its rules.

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <string>

#include "bench/support/RulesAgainstTree.h"
#include "bench/support/WebPageDrawing.h"
#include "web/WebDocument.h"

namespace {

constexpr CGFloat kWidth = 375;
constexpr double kTargetMs = 1000;

struct Page {
    std::string html;
    std::string sheet;
};

Page nested(bool rules) {
    Page p;
    for (int i = 0; i < 190; ++i) p.html += "<div>";
    p.html += "deep";
    for (int i = 0; i < 190; ++i) p.html += "</div>";
    if (rules) p.sheet = "span div div div div div div div{color:red}";
    return p;
}

Page siblings(bool rules) {
    Page p;
    for (int i = 0; i < 20000; ++i) p.html += "<p>s</p>";
    if (rules) p.sheet = "span ~ p ~ p ~ p{color:red}";
    return p;
}

Page paragraphsInWrappers(int perWrapper) {
    Page p;
    for (int w = 0; w < 3; ++w) {
        p.html += "<div class=\"c" + std::to_string(w * 7) + "\">";
        for (int i = 0; i < perWrapper; ++i) p.html += "<p>w</p>";
        p.html += "</div>";
    }
    return p;
}

Page classRules(bool rules) {
    Page p = paragraphsInWrappers(29000 / 3);
    if (rules)
        for (int n = 0; n < 20000; ++n)
            p.sheet += ".c" + std::to_string(n) + " p{color:#" + std::to_string(100000 + n) + "}";
    return p;
}

Page overBudget(bool rules) {
    Page p = paragraphsInWrappers(29000 / 3);
    if (rules)
        for (int n = 0; n < 20000; ++n) p.sheet += "p{color:#" + std::to_string(100000 + n) + "}";
    return p;
}

Page longList(bool rules) {
    Page p;
    p.html = "<ol>";
    for (int i = 0; i < 20000; ++i) p.html += "<li>item</li>";
    p.html += "</ol>";
    if (rules) p.sheet = "ol li{color:red}";
    return p;
}

void run(benchmark::State& state, Page (*make)(bool), bool rules) {
    const Page page = make(rules);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(kWidth), 4000);
    for (auto _ : state) benchsupport::buildLayOutAndDraw(page.html, page.sheet, surface, kWidth);
    cairo_surface_destroy(surface);
}

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::runRulesAgainstTree(
        argc, argv, "web_selectors_",
        {
            {"nested", [](benchmark::State& s, bool rules) { run(s, nested, rules); }},
            {"siblings", [](benchmark::State& s, bool rules) { run(s, siblings, rules); }},
            {"class_rules", [](benchmark::State& s, bool rules) { run(s, classRules, rules); }},
            {"over_budget", [](benchmark::State& s, bool rules) { run(s, overBudget, rules); }},
            {"long_list", [](benchmark::State& s, bool rules) { run(s, longList, rules); }},
        },
        kTargetMs, "built, styled, laid out and drawn");
}

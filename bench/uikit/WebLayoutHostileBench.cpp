// Pages shaped to make layout and drawing slow, each within the page bounds (400,000 tags, depth
// 200, 100,000 elements, 4 MB of text): built, laid out at a phone's 375 points and drawn (the
// first 4,000 points) by the web page renderer on one thread, as the view does on the main one.
// Ends with "ratio web_layout_<case> <CPU ms per page / 5,000 ms>" and "ratio
// web_layout_<case>_peak <peak MB / 512 MB>" (targets: at most 1.0 each, the page's process
// limits, past which the page would be ended), with, from the same run, a plain page of as many
// paragraphs as the case has elements (the peak is reset before each case).
//
// Run one case with --benchmark_filter=<case>; each runs once (the slow ones take long).

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/support/PeakMemory.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebPageDrawing.h"
#include "web/WebDocument.h"

namespace {

constexpr CGFloat kWidth = 375;
constexpr double kTargetMs = 5000;
constexpr double kTargetMB = 512;
constexpr CGFloat kDrawnHeight = 4000;

struct Page {
    std::string html;
    std::string sheet;
    int elements = 0;  // about how many the page has, for its reference
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    out.reserve(s.size() * std::size_t(n));
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string n(long v) {
    return std::to_string(v);
}

// ---- the shapes -----------------------------------------------------------------------------

Page floats() {
    Page p;
    p.sheet = ".l{float:left;width:30px;height:7px}.r{float:right;width:20px;height:11px}"
              ".c{clear:both}";
    for (int i = 0; i < 24000; ++i) {
        p.html += "<div class=l>a</div><div class=r>b</div>text ";
        p.html += i % 5 == 4 ? "<div class=c></div>" : "<span>s</span>";
    }
    p.elements = 96000;
    return p;
}

Page floatsNoClear() {
    Page p;
    p.sheet = ".l{float:left;width:3px;height:3px}.r{float:right;width:2px;height:5px}";
    for (int i = 0; i < 48000; ++i) p.html += "<div class=l></div><div class=r></div>";
    p.elements = 96000;
    return p;
}

Page table310() {
    Page p;
    p.html = "<table>";
    for (int r = 0; r < 310; ++r) p.html += "<tr>" + repeat("<td>c", 310);
    p.html += "</table>";
    p.elements = 310 * 311;
    return p;
}

Page tableColspans() {
    Page p;
    p.html = "<table>";
    for (int r = 0; r < 310; ++r) {
        p.html += "<tr>";
        for (int c = 0; c < 310; ++c)
            p.html += c % 3 == 0 ? "<td colspan=1000 rowspan=1000>w</td>" : "<td>c</td>";
    }
    p.html += "</table>";
    p.elements = 310 * 311;
    return p;
}

Page tableWideAndLong() {
    // One row of 48,000 cells over 48,000 rows of one: the engine fills every row to the widest.
    Page p;
    p.html = "<table><tr>" + repeat("<td>w</td>", 48000) + repeat("<tr><td>c</td></tr>", 48000) + "</table>";
    p.elements = 96000;
    return p;
}

Page nestedTables() {
    Page p;
    p.html = repeat("<table><tr><td>x", 100) + "deep" + repeat("</td></tr></table>", 100);
    p.elements = 300;
    return p;
}

Page inlineSpans() {
    Page p;
    p.html = "<p>" + repeat("<span>word </span>", 96000) + "</p>";
    p.elements = 96000;
    return p;
}

Page longWord() {
    Page p;
    p.html = "<p>" + std::string((4u << 20) - 64, 'w') + "</p>";
    p.elements = 1;
    return p;
}

Page manySpaces() {
    Page p;
    p.html = "<p>" + repeat("a ", (1 << 21) - 64) + "</p>";
    p.elements = 1;
    return p;
}

Page wideText() {
    // Chinese text breaks between any two characters: a word per character.
    Page p;
    p.html = "<p>" + repeat("\xe4\xb8\xad", (4 << 20) / 3 - 64) + "</p>";
    p.elements = 1;
    return p;
}

Page breaks() {
    Page p;
    p.html = "<p>" + repeat("<br>", 99990) + "</p>";
    p.elements = 100000;
    return p;
}

Page nestedInline() {
    Page p;
    for (int i = 0; i < 330; ++i)
        p.html += "<p>" + repeat("<span>", 100) + "x" + repeat("</span>", 100) + "</p>";
    p.elements = 33330;
    return p;
}

Page nestedInlineOneParagraph() {
    Page p;
    p.html = "<p>" + repeat(repeat("<b>", 190) + "x " + repeat("</b>", 190), 520) + "</p>";
    p.elements = 98800;
    return p;
}

Page absolute() {
    Page p;
    p.sheet = "div{position:absolute;width:10px;height:10px}";
    for (int i = 0; i < 96000; ++i)
        p.html += "<div style=\"left:" + n(i % 360) + "px;top:" + n(i / 30) + "px\">a</div>";
    p.elements = 96000;
    return p;
}

Page absoluteNested() {
    Page p;
    p.sheet = "div{position:absolute;left:1px;top:1px}";
    for (int i = 0; i < 520; ++i) p.html += repeat("<div>", 190) + "a" + repeat("</div>", 190);
    p.elements = 98800;
    return p;
}

Page relative() {
    Page p;
    p.sheet = "div{position:relative;left:3px;top:-2px}";
    p.html = repeat("<div>r</div>", 96000);
    p.elements = 96000;
    return p;
}

Page relativeNested() {
    Page p;
    p.sheet = "div{position:relative;left:1px;top:1px}";
    for (int i = 0; i < 520; ++i) p.html += repeat("<div>", 190) + "a" + repeat("</div>", 190);
    p.elements = 98800;
    return p;
}

Page zIndex() {
    Page p;
    p.sheet = "div{position:relative;width:10px;height:10px}";
    for (int i = 0; i < 96000; ++i)
        p.html += "<div style=\"z-index:" + n((i * 7919) % 20011 - 10000) + "\">z</div>";
    p.elements = 96000;
    return p;
}

Page zIndexNested() {
    Page p;
    p.sheet = "div{position:relative;z-index:1}";
    for (int i = 0; i < 520; ++i) p.html += repeat("<div>", 190) + "a" + repeat("</div>", 190);
    p.elements = 98800;
    return p;
}

Page hugeLengths() {
    Page p;
    p.sheet = ".a{margin:1000000000px;padding:1000000000px;width:1000000000px;height:1000000000px}"
              ".b{margin:-1000000000px;padding:-1000000000px;width:-1000000000px}"
              ".c{margin-left:-999999999px;width:1999999999px;border:1000000000px solid red}"
              ".d{min-width:1e9px;max-height:1e9px;left:1e9px;top:-1e9px;position:relative}";
    static const char* kinds[] = {"a", "b", "c", "d"};
    for (int i = 0; i < 96000; ++i) p.html += std::string("<div class=") + kinds[i % 4] + ">h</div>";
    p.elements = 96000;
    return p;
}

Page hugeNested() {
    Page p;
    p.sheet = "div{padding:10000000px;margin:-5000000px;border:1000000px solid red}";
    for (int i = 0; i < 520; ++i) p.html += repeat("<div>", 190) + "a" + repeat("</div>", 190);
    p.elements = 98800;
    return p;
}

Page textExtremes() {
    Page p;
    p.sheet = ".a{text-indent:1000000000px}.b{text-indent:-1000000000px}"
              ".c{letter-spacing:1000000000px}.d{letter-spacing:-1000000000px}"
              ".e{line-height:1000000000px}.f{line-height:-1000000000px}.g{word-spacing:1000000000px}"
              ".h{line-height:100000000}";
    static const char* kinds[] = {"a", "b", "c", "d", "e", "f", "g", "h"};
    for (int i = 0; i < 96000; ++i)
        p.html += std::string("<p class=") + kinds[i % 8] + ">words in a line</p>";
    p.elements = 96000;
    return p;
}

Page listItems() {
    Page p;
    p.html = "<ul>" + repeat("<li>item", 96000) + "</ul>";
    p.elements = 96000;
    return p;
}

Page listItemsNumbered() {
    Page p;
    p.sheet = "li{list-style-type:lower-roman;list-style-position:inside}";
    p.html = "<ol>" + repeat("<li>item", 96000) + "</ol>";
    p.elements = 96000;
    return p;
}

Page preNewlines() {
    Page p;
    p.html = "<div style=\"white-space:pre\">" + std::string((4u << 20) - 64, '\n') + "</div>";
    p.elements = 1;
    return p;
}

Page preLongLine() {
    Page p;
    p.html = "<pre>" + repeat("a ", (1 << 21) - 64) + "</pre>";
    p.elements = 1;
    return p;
}

Page tableCells() {
    Page p;
    p.sheet = "span{display:table-cell}";
    p.html = "<p>" + repeat("<span>c</span>", 96000) + "</p>";
    p.elements = 96000;
    return p;
}

Page tableRows() {
    Page p;
    p.sheet = "span{display:table-row}i{display:table-cell}";
    p.html = "<div>" + repeat("<span><i>c</i><i>d</i></span>", 32000) + "</div>";
    p.elements = 96000;
    return p;
}

Page decorated() {
    // Some thirty properties a div once its shorthands expand: styling stores them up to its
    // allowance (about the first 42,000 divs), the rest show unstyled.
    Page p;
    p.sheet = "div{border-radius:20px 5px;box-shadow:3px 3px 10px #000;border:2px dashed blue;"
              "background:#fe8;width:300px;height:20px;overflow:hidden}";
    p.html = repeat("<div>r</div>", 96000);
    p.elements = 96000;
    return p;
}

Page fatRule() {
    // One rule of 100 declarations (of no property the engine knows), copied into every element
    // up to the allowance of what styling stores (about the first 13,000).
    Page p;
    const int n = 100;
    p.sheet = "div{";
    for (int i = 0; i < n; ++i) p.sheet += "x" + std::to_string(i) + ":1;";
    p.sheet += "}";
    p.html = repeat("<div>r</div>", 96000);
    p.elements = 96000;
    return p;
}

Page hugeFont() {
    Page p;
    p.sheet = "p{font-size:1000000px}span{font-size:1e9px}";
    p.html = repeat("<p>big <span>bigger</span></p>", 32000);
    p.elements = 96000;
    return p;
}

Page manyFonts() {
    Page p;
    for (int i = 0; i < 96000; ++i) p.html += "<span style=\"font-size:" + n(1 + i % 997) + "px\">f</span>";
    p.elements = 96000;
    return p;
}

Page manyFonts2() {
    // Every element a font of its own: sizes, weights, slants and decorations.
    Page p;
    static const char* lines[] = {"none", "underline", "line-through", "overline"};
    for (int i = 0; i < 96000; ++i)
        p.html += "<span style=\"font:" + std::string(i % 2 ? "italic " : "") + n(100 * (1 + i / 2 % 9)) +
                  " " + n(1 + i / 18 % 1000) + "px serif;text-decoration:" + lines[i / 18000 % 4] +
                  "\">f</span>";
    p.elements = 96000;
    return p;
}

Page inlineBlocks() {
    Page p;
    p.sheet = "span{display:inline-block}";
    p.html = "<div>" + repeat("<span>ib</span> ", 96000) + "</div>";
    p.elements = 96000;
    return p;
}

Page floatsInInline() {
    Page p;
    p.sheet = "i{float:left;width:5px;height:5px}";
    p.html = "<p>" + repeat("<span>t <i></i></span>", 48000) + "</p>";
    p.elements = 96000;
    return p;
}

Page floatsNested() {
    // Floats in nested blocks: each looks up its ancestors' floats.
    Page p;
    p.sheet = "i{float:left;width:2px;height:2px;display:block}";
    for (int i = 0; i < 330; ++i)
        p.html += repeat("<div>", 180) + repeat("<i></i>", 110) + repeat("</div>", 180);
    p.elements = 96000;
    return p;
}

Page nestedDivs() {
    // The nesting bound's own worst: plain blocks 190 deep, side by side.
    Page p;
    for (int i = 0; i < 520; ++i) p.html += repeat("<div>", 190) + "a" + repeat("</div>", 190);
    p.elements = 98800;
    return p;
}

Page overflowClips() {
    Page p;
    p.sheet = "div{overflow:hidden;border-radius:3px}";
    for (int i = 0; i < 520; ++i) p.html += repeat("<div>", 190) + "a" + repeat("</div>", 190);
    p.elements = 98800;
    return p;
}

Page images() {
    Page p;
    p.html = repeat("<img src=\"p.png\" width=1000000000 height=1000000000>", 96000);
    p.elements = 96000;
    return p;
}

Page verticalAlign() {
    Page p;
    static const char* kinds[] = {"top", "bottom", "middle", "super", "sub", "text-top", "-1000000px"};
    p.html = "<p>";
    for (int i = 0; i < 96000; ++i)
        p.html += std::string("<span style=\"vertical-align:") + kinds[i % 7] + "\">v</span>";
    p.html += "</p>";
    p.elements = 96000;
    return p;
}

Page varChain() {
    // 3.5 KB of custom properties, each two var() of the one before, 30 deep, used by every
    // paragraph; and one that names itself, nested.
    Page p;
    p.sheet = "html{--v0:" + std::string(100, 'x') + ";";
    for (int i = 1; i <= 30; ++i)
        p.sheet += "--v" + n(i) + ":var(--v" + n(i - 1) + ") var(--v" + n(i - 1) + ");";
    p.sheet += "}p{font-family:var(--v30)}div{--s:var(--s) var(--s)}";
    p.html = repeat("<p>w</p>", 48000) + repeat("<div>", 190) + "x" + repeat("</div>", 190);
    p.elements = 48190;
    return p;
}

Page varEverywhere() {
    // A property near the substitution bound, copied into every element.
    Page p;
    p.sheet = "html{--big:" + std::string(60000, 'x') + "}*{--copy:var(--big)}";
    p.html = repeat("<p>w</p>", 96000);
    p.elements = 96000;
    return p;
}

Page reference(int paragraphs) {
    Page p;
    p.html = repeat("<p>w</p>", paragraphs);
    p.elements = paragraphs;
    return p;
}

struct Case {
    const char* name;
    Page (*make)();
};

const Case kCases[] = {
    {"floats", floats},
    {"floats_no_clear", floatsNoClear},
    {"floats_in_inline", floatsInInline},
    {"floats_nested", floatsNested},
    {"table_310x310", table310},
    {"table_spans", tableColspans},
    {"table_wide_and_long", tableWideAndLong},
    {"tables_nested_100", nestedTables},
    {"table_cells_no_table", tableCells},
    {"table_rows_no_table", tableRows},
    {"inline_spans", inlineSpans},
    {"inline_blocks", inlineBlocks},
    {"long_word", longWord},
    {"many_spaces", manySpaces},
    {"wide_text", wideText},
    {"breaks", breaks},
    {"nested_inline", nestedInline},
    {"nested_inline_one_paragraph", nestedInlineOneParagraph},
    {"absolute", absolute},
    {"absolute_nested", absoluteNested},
    {"relative", relative},
    {"relative_nested", relativeNested},
    {"z_index", zIndex},
    {"z_index_nested", zIndexNested},
    {"huge_lengths", hugeLengths},
    {"huge_nested", hugeNested},
    {"text_extremes", textExtremes},
    {"list_items", listItems},
    {"list_items_numbered", listItemsNumbered},
    {"pre_newlines", preNewlines},
    {"pre_long_line", preLongLine},
    {"decorated", decorated},
    {"fat_rule", fatRule},
    {"huge_font", hugeFont},
    {"many_font_sizes", manyFonts},
    {"many_fonts", manyFonts2},
    {"nested_divs", nestedDivs},
    {"overflow_clips", overflowClips},
    {"images", images},
    {"vertical_align", verticalAlign},
    {"var_chain", varChain},
    {"var_everywhere", varEverywhere},
};

// ---- running --------------------------------------------------------------------------------

// The page is made here, so that only the case's own page is held while it runs.
void run(benchmark::State& state, const std::string& name, const std::function<Page()>& make) {
    const Page page = make();
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(kWidth), int(kDrawnHeight));
    benchsupport::resetPeak();
    for (auto _ : state) benchsupport::buildLayOutAndDraw(page.html, page.sheet, surface, kWidth);
    benchsupport::recordPeak(state, name);
    cairo_surface_destroy(surface);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::map<int, bool> references;
    for (const Case& c : kCases) {
        int count = std::max(1, c.make().elements);
        std::string name = c.name;
        auto make = c.make;
        benchmark::RegisterBenchmark(("BM_" + name).c_str(),
                                     [name, make](benchmark::State& state) { run(state, name, make); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        if (!references[count]) {
            references[count] = true;
            std::string ref = "BM_reference_" + std::to_string(count);
            benchmark::RegisterBenchmark(ref.c_str(),
                                         [ref, count](benchmark::State& state) {
                                             run(state, ref, [count] { return reference(count); });
                                         })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
        }
    }
    benchsupport::RatioReporter reporter(benchsupport::RatioReporter::Clock::CPU);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto& peaks = benchsupport::casePeaksMB();
    for (const Case& c : kCases) {
        auto time = reporter.time(std::string("BM_") + c.name);
        if (!time) continue;
        int count = std::max(1, c.make().elements);
        auto ref = reporter.time("BM_reference_" + std::to_string(count));
        std::printf("ratio web_layout_%s %.4g\n", c.name, *time / kTargetMs);
        std::printf("ratio web_layout_%s_peak %.4g\n", c.name, peaks[c.name] / kTargetMB);
        std::printf("  built, laid out and drawn in %.4g ms of CPU, peak %.0f MB; targets: at most %.0f ms "
                    "and %.0f MB\n",
                    *time, peaks[c.name], kTargetMs, kTargetMB);
        if (ref) std::printf("  reference, a plain page of %d paragraphs: %.4g ms\n", count, *ref);
    }
    return 0;
}

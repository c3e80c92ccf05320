#pragma once
// The page as the layout engine gets it: read as a browser reads HTML, then written back as
// plain well-formed HTML whose tree is bounded, so that neither the engine's own parse nor its
// recursive layout and drawing meet a hostile tree.
//
// Bounds, each applied by keeping a prefix of the page (what lies past a bound is dropped, as a
// browser that stopped loading would show it):
//   - tags read at all (a page of a million tags costs the HTML parser time and memory before
//     any tree exists);
//   - nesting: elements deeper than maxDepth lose their tags, their content joins the element at
//     the limit; the parser itself is kept from deep nesting by a first pass over the tags, as
//     its cost grows with the depth of open elements for every tag;
//   - elements and text bytes written (100,000 and 4 MB: an ordinary page is shown whole);
//   - the nesting weight: the depth of every element written, summed. Styling looks up every
//     inherited property an element does not set through all its ancestors, so thousands of
//     elements each nested a hundred deep cost seconds where the same elements side by side
//     cost a fraction of one;
//   - white space in text of white space alone (between tags): the layout engine makes an element
//     of each of its characters, so past maxWhitespaceBytes such text keeps its first character
//     only (what shows of it unless the page preserves white space);
//   - table spans (colspan, rowspan) to what a grid of the element bound can hold;
//   - a table's grid: the layout engine fills every row to the widest one, so one wide row over
//     many narrow ones costs rows times columns; past maxTableCells, each row keeps the first
//     columns that fit (later cells are left out, a span is cut at the edge).
// Scripts, comments, templates and SVG or MathML islands are left out (nothing runs them or
// draws them).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace detail {

struct WebPageLimits {
    std::size_t maxTags = 400000;
    std::size_t maxDepth = 200;
    std::size_t maxElements = 100000;
    std::size_t maxTextBytes = 4u << 20;
    std::size_t maxWhitespaceBytes = 1u << 17;
    std::size_t maxNestingWeight = 1u << 22;
    std::size_t maxTableCells = 1u << 18;
};

struct WebPageSourceInfo {
    bool truncated = false;      // a tag, element or text bound dropped the rest
    bool depthCapped = false;    // some elements lost their tags to the nesting bound
    bool whitespaceCut = false;  // white space between tags was cut to its first character
    bool gridCut = false;        // a table's rows lost columns to the grid bound
    std::size_t elements = 0;
    std::size_t depth = 0;          // of the tree written
    std::size_t nestingWeight = 0;  // the depths of the elements written, summed
    // About how many pieces (words, white space characters, wide characters) the text written
    // breaks into for line breaking.
    std::size_t textPieces = 0;
    std::size_t textBytes = 0;  // written, style sheets included
};

// What a page links, found by a scan of its tags alone (no parse, no tree, linear in the page):
// the href of each <link rel=stylesheet> (the one word, as the engine reads it) and each @import
// of its <style> elements, as written (character references read), in the page's order, at
// most `most` of them; and the href of its first <base>. Comments and the text of raw-text
// elements (scripts, titles) are skipped as the parser skips them.
struct WebPageLinks {
    std::vector<std::string> stylesheets;
    std::optional<std::string> base;
};
WebPageLinks scanPageLinks(std::string_view html, std::size_t most);

// Appends text with the characters HTML reads as markup escaped (and '"' inside an attribute).
void appendEscapedHTML(std::string& out, std::string_view text, bool attribute);

class WebPageStyleState;

// With a state, the page's sheets and style attributes are rewritten through it (var() bounds,
// data: URLs as keys; see WebStyleSheetSource.h), and so are the data: URLs of its pictures.
std::string boundedPageSource(std::string_view html, const WebPageLimits& limits = {},
                              WebPageSourceInfo* info = nullptr, WebPageStyleState* state = nullptr);

}  // namespace detail

#pragma once
// A stylesheet as the layout engine gets it: read token by token (comments, strings, url(...),
// escapes, blocks, at-rules) and written back with its shape bounded, so that the engine's own
// parse, which recurses into nested rules and selector chains and copies the rest of the text at
// every level, never meets a hostile sheet. Everything within the bounds is written back byte
// for byte.
//
// Bounds:
//   - blocks nested deeper than maxDepth: the rule that opens one is dropped whole, as a browser
//     drops what it cannot parse;
//   - a rule whose prelude (the text before its '{') is longer than maxSelectorBytes, or a style
//     rule one of whose selectors chains more than maxSelectorSteps compound selectors or
//     combinators, is dropped with its block;
//   - a declaration block longer than maxDeclarationBytes is cut after its last whole
//     declaration within the bound; a rule nested in a declaration block is dropped (the engine
//     reads none, and takes its braces for the end of the block);
//   - the sheet stops before the rule past maxRules, and after maxBytes of its text (what is
//     written may be a little longer: closings, and escapes in place of the few characters below);
//   - comments past maxComments are left out (the engine strips every comment before it reads
//     anything, at a cost that grows with their number times the sheet's size).
// Errors are recovered from as CSS does: what is open at the end (a comment, string, url(...),
// block) is closed; a stray '}' at the top makes the rule it stands in invalid, so it is dropped.
//
// The engine knows neither strings nor escapes and strips comments before it looks at braces, so
// the few characters it would misread are written in a form it cannot: braces in strings, url()
// and escapes as CSS escapes ("\7b ", "\7d ") or in url() percent-encoded, "/*" inside a string
// or url() broken, a ';' in a string or url() of an at-rule's prelude escaped, NUL as U+FFFD.

#include <cstddef>
#include <string>
#include <string_view>

namespace detail {

struct WebStyleSheetLimits {
    std::size_t maxDepth = 4;
    std::size_t maxSelectorBytes = 1024;
    std::size_t maxSelectorSteps = 32;
    std::size_t maxDeclarationBytes = 64u << 10;
    std::size_t maxBytes = 2u << 20;
    std::size_t maxRules = 20000;
    std::size_t maxComments = 1000;
};

struct WebStyleSheetInfo {
    std::size_t rules = 0;         // rules written (with a block, or at-rules ending in ';')
    std::size_t droppedRules = 0;  // rules left out by the depth, selector or nesting bounds
    std::size_t depth = 0;         // deepest block written
    bool truncated = false;        // a declaration block cut, or the sheet cut at a bound
    bool closed = false;           // something left open at the end was closed
};

std::string boundedStyleSheet(std::string_view css, const WebStyleSheetLimits& limits = {},
                              WebStyleSheetInfo* info = nullptr);

}  // namespace detail

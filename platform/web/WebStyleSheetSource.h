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
//     anything, at a cost that grows with their number times the sheet's size);
//   - with a page's state (WebPageStyleState below): declarations whose var() could grow past
//     its bounds are left out, and data: URLs are written as keys, up to maxDataBytes.
// Errors are recovered from as CSS does: what is open at the end (a comment, string, url(...),
// block) is closed; a stray '}' at the top makes the rule it stands in invalid, so it is dropped.
//
// The engine knows neither strings nor escapes and strips comments before it looks at braces, so
// the few characters it would misread are written in a form it cannot: braces in strings, url()
// and escapes as CSS escapes ("\7b ", "\7d ") or in url() percent-encoded, "/*" inside a string
// or url() broken, a ';' in a string or url() of an at-rule's prelude escaped, NUL as U+FFFD.

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

namespace detail {

// What one page's stylesheets and style attributes share while they are rewritten, in the order
// the engine reads them (the page's own sheets and attributes, then linked and imported sheets).
//
// Custom properties. The engine substitutes var() as it styles each element, by copying text:
// a property made of two var() of the one before doubles at each step, and one that names
// itself (or a ring of them) never ends. So a declaration is invalid, and left out, where
//   - a var() names no custom property (the engine would read any property, an inherited one
//     included, so "width: var(width) var(width)" doubles down every level of nesting);
//   - a custom property names itself, directly or through others (a cycle: invalid, as a
//     browser has it);
//   - the longest text its substitution could make passes kMaxSubstitutionBytes. That is reckoned
//     before any element is styled, from what each named property may hold: the longest of its
//     definitions seen so far, and at least kAssumedValueBytes, since a later sheet may define it
//     again: a later definition longer than what was assumed for a name already used is invalid.
// 64 KB is the bound a declaration has anyway (WebStyleSheetLimits::maxDeclarationBytes): no
// ordinary substitution comes near it. Every element a sheet's declaration styles gets a copy of
// what it substitutes, though, so one whose substitution may pass kFreeSubstitutionBytes is
// reckoned at that length times the page's elements (once, in a style attribute), and the page
// may hold kMaxCopiedSubstitutionBytes of those in all: past that they are invalid too.
//
// data: URLs. A picture carried in a page (url(data:...) in a sheet or style attribute, or
// <img src="data:...">) is kept here whole and written as a short key that the renderer turns
// back into the URL (see dataURL()): the engine copies a declaration's text into every element
// it styles, and the picture's bytes would otherwise count against the sheet's bounds.
class WebPageStyleState {
  public:
    static constexpr std::size_t kMaxSubstitutionBytes = 64u << 10;
    static constexpr std::size_t kAssumedValueBytes = 1u << 10;
    static constexpr std::size_t kUnknownValueBytes = 4u << 10;  // for a name not defined so far
    static constexpr std::size_t kFreeSubstitutionBytes = 2u << 10;
    static constexpr std::size_t kMaxCopiedSubstitutionBytes = 64u << 20;
    // One data: URL (2 MB of base64 is a 1.5 MB picture, more than a phone screen's worth), and
    // all of a page's (each sheet has its own bound as well, see WebStyleSheetLimits).
    static constexpr std::size_t kMaxDataURLBytes = 2u << 20;
    static constexpr std::size_t kMaxPageDataBytes = 32u << 20;

    // Whether a declaration ("name: value", comments stripped or not) may stay, by the rules
    // above; a custom property that stays is recorded.
    bool acceptDeclaration(std::string_view declaration, bool inSheet = true);
    // Reads ahead the custom properties a sheet or style attribute defines, so that a use before
    // the definition in the same text is reckoned at what the definition may hold.
    void preview(std::string_view css);
    // The elements of the page, which a sheet's declaration may style each.
    void setPageElements(std::size_t elements) { pageElements_ = elements; }

    // The key to write in place of a data: URL, or nullopt past the page's bound. The same URL
    // gets the same key.
    std::optional<std::string> keepDataURL(std::string_view url);
    // The data: URL a key was written for, or null for any other text.
    const std::string* dataURL(std::string_view reference) const;
    std::size_t dataBytes() const { return dataBytes_; }

  private:
    struct Property {
        std::size_t longest = 0;    // the longest definition accepted
        std::size_t previewed = 0;  // the longest definition read ahead
        std::size_t assumed = 0;    // the most any accepted declaration reckoned it could hold
        bool defined = false;
        std::set<std::string> refs;  // names its accepted definitions use
    };
    bool reaches(const std::set<std::string>& from, const std::string& target);
    std::size_t holds(const std::string& name) const;  // reckoned for one use of a name

    std::map<std::string, Property, std::less<>> properties_;
    std::size_t searchSteps_ = 0;
    std::size_t pageElements_ = 1;
    std::size_t copiedBytes_ = 0;  // reckoned for substitutions past kFreeSubstitutionBytes
    std::deque<std::string> dataURLs_;
    std::unordered_map<std::string_view, std::size_t> dataKeys_;
    std::size_t dataBytes_ = 0;
};

struct WebStyleSheetLimits {
    std::size_t maxDepth = 4;
    std::size_t maxSelectorBytes = 1024;
    std::size_t maxSelectorSteps = 32;
    std::size_t maxDeclarationBytes = 64u << 10;
    std::size_t maxBytes = 2u << 20;
    std::size_t maxRules = 20000;
    std::size_t maxComments = 1000;
    // data: URLs in url(): their text in all. It is not counted in maxBytes or
    // maxDeclarationBytes (only a short key is written for each); past it, a data: URL is the
    // sheet's own text, which those bounds cut. One past the page's bounds is written empty.
    std::size_t maxDataBytes = 16u << 20;
};

struct WebStyleSheetInfo {
    std::size_t rules = 0;         // rules written (with a block, or at-rules ending in ';')
    std::size_t droppedRules = 0;  // rules left out by the depth, selector or nesting bounds
    std::size_t depth = 0;         // deepest block written
    bool truncated = false;        // a declaration block cut, or the sheet cut at a bound
    bool closed = false;           // something left open at the end was closed
};

// Without a state, var() is not looked at and data: URLs are written as they came (within the
// declaration bound).
std::string boundedStyleSheet(std::string_view css, const WebStyleSheetLimits& limits = {},
                              WebStyleSheetInfo* info = nullptr, WebPageStyleState* state = nullptr);

// A style attribute: a list of declarations, bounded as a rule's block.
std::string boundedDeclarations(std::string_view declarations, WebPageStyleState* state);

}  // namespace detail

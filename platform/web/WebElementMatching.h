#pragma once
// Selector matching for a page's elements at a cost about linear in elements times rules.
//
// The layout engine matches a selector right to left and, for a descendant or general-sibling
// combinator, tries every ancestor or earlier sibling in turn, recursing for the rest of the
// chain: a chain of n compounds over a tree of depth d costs up to d^n tries when it fails, and
// every rule of a sheet is tried against every element. The elements made here keep the
// engine's own matching rules (they call it for each compound) and change only how often it
// runs:
//   - within one pass (styling the tree, refreshing its styles, or one outside query), each
//     element answers a (selector, pseudo) question its children or descendants ask once, and a
//     parent tries each child once per selector for all its later children; what a later sibling
//     asks ("+", "~") is asked once anyway and not remembered. A pass styles in document order
//     and selectors look only up and back, so an element remembers only while it or one of its
//     descendants is styled: what a pass remembers grows with the depth of the page and the
//     children of the elements on the way down, never with the elements times the compounds of
//     the sheet; an allowance bounds it still, past which answers are found again, not kept;
//   - a sheet is indexed once per styling pass by each rule's rightmost key (id, class, tag or
//     none) and by one key an ancestor must carry, so an element is tried only against the rules
//     it can meet, in the sheet's order;
//   - an element alike an earlier one (same tag, classes, states and the attributes that the
//     sheet looks at or the engine turns into styles, under alike parents; no id or style
//     attribute of its own, though its ancestors' ids count only where the sheet names them)
//     copies that one's styles instead of being matched, when every rule it can meet answers
//     alike for both: for a sibling, nothing that counts or looks at its siblings and no
//     generated content; for a cousin, neither for any ancestor's siblings either;
//   - a rule's declarations are parsed once per pass and merged into each element it meets (the
//     engine would parse them again for each; the outcome is the same), except var() and long ones;
//   - an element of many classes answers class tests through an index of them, and the argument
//     of a pseudo-class such as :not(), which the engine parses again on every try, is counted by
//     its length and nesting; a rule nested deeper than real sheets nest is dropped outright;
//   - each pass has a budget of matching steps; past it, further rules are dropped (they answer
//     no match) and the page is still shown, as the stylesheet walker drops CSS past its bounds.
//     Long declarations (an inline picture) have an allowance of their own, so that one rule of
//     a megabyte over many elements loses its reach before the page's other rules lose theirs;
//   - each pass has an allowance of the properties it stores in elements too, which is what the
//     engine's styles weigh (a map per element, a property a hundred bytes or so) where steps
//     count only time: past it, further rules that would store are dropped, the page still shows.
// Once matched, the engine reads each element's properties in (parse_styles), parent before
// children, and asks a parent for every property an element inherits and does not set, which
// asks its own parent, up to the root. While that runs, the answers of the elements on the way
// down are remembered for the elements below them, and an element tells the properties it does
// not set (most of those the engine reads) from a few bits per name it sets, without a lookup.
//
// Only for the page renderer, on the thread that owns the document.

#include <litehtml/litehtml.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace detail {

// Matching steps one pass may take, where a rule an element meets costs a few steps and one more
// per byte of its declarations (the engine parses and copies them into the element), up to a few
// kilobytes a rule (longer declarations have an allowance of their own). Whole pages of 30,000
// elements under a thousand-rule site sheet take a tenth of it; the page's own process, which the
// app may end, bounds what is left.
constexpr std::size_t kDefaultMatchingStepsPerPass = 40'000'000;

// Shared by every element of one document.
class ElementMatching;

// Properties one pass may store in elements: each property a rule an element meets adds to it
// (a shorthand as the properties it expands to, declarations no property knows too; one a later
// rule overwrites weighs nothing more). A forum thread of 30,000 elements under a thousand-rule
// site sheet stores a third of it; 96,000 divs of borders, radius, shadow and background (thirty
// properties each) stop at 140 MB more than plain paragraphs take, where they took 370 MB and
// passed the page process's 512 MB.
constexpr std::size_t kDefaultStoredPropertiesPerPass = 1'300'000;

// Answers one pass may remember at once (a few dozen bytes each, some 30 MB in all): the memos of
// the elements on the way down to the one styled. A forum thread of 30,000 elements under a
// thousand-rule site sheet holds a handful at once, 20,000 siblings under 70 chains of 16
// compounds some 800. Past it, further answers are found again when asked again (within the step
// budget).
constexpr std::size_t kDefaultRememberedPerPass = 500'000;

std::shared_ptr<ElementMatching>
makeElementMatching(std::size_t maxStepsPerPass = kDefaultMatchingStepsPerPass,
                    std::size_t maxStoredPropertiesPerPass = kDefaultStoredPropertiesPerPass,
                    std::size_t maxRememberedPerPass = kDefaultRememberedPerPass);

// The element the engine would make for `tag`, matching as above; null when the engine's own
// element is kept (elements that match no selector: style, script).
std::shared_ptr<litehtml::element> createMatchedElement(const char* tag,
                                                        const std::shared_ptr<litehtml::document>& doc,
                                                        const std::shared_ptr<ElementMatching>& matching);

struct ElementMatchingStats {
    std::uint64_t passes = 0;                 // passes begun
    std::uint64_t exhaustedPasses = 0;        // passes that ran out of budget
    std::size_t lastPassSteps = 0;            // steps of the last pass ended
    std::size_t mostPassSteps = 0;            // steps of the costliest pass
    std::uint64_t bulkDroppedPasses = 0;      // passes that dropped rules of long declarations
    std::uint64_t copiedStyles = 0;           // elements that took an alike element's styles
    std::size_t lastPassProperties = 0;       // properties stored by the last pass ended
    std::size_t mostPassProperties = 0;       // and by the pass that stored most
    std::uint64_t propertyDroppedPasses = 0;  // passes that dropped rules past the allowance
    std::size_t lastPassRemembered = 0;       // answers the last pass ended held at most at once
    std::size_t mostPassRemembered = 0;       // and the pass that held most
    std::uint64_t forgetfulPasses = 0;        // passes that reached their allowance of answers
};
ElementMatchingStats matchingStats(const ElementMatching& matching);

}  // namespace detail

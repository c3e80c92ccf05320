#pragma once
// Text measurement and line layout, behind one interface with two implementations.
//
// The DETERMINISTIC measurer (the process-wide default, so unit tests can predict sizes) uses
// fixed advances per character, in ems of the font's point size:
//   - characters of East Asian width Wide or Fullwidth (CJK ideographs, kana, hangul, CJK and
//     full-width punctuation): 1.0;
//   - the space U+0020 and the no-break space: 0.25; a tab: 1.0;
//   - combining marks, zero-width characters and variation selectors: 0;
//   - everything else (Latin letters, digits, punctuation, "…"): 0.5; in the Courier family
//     every character with an advance has 0.6.
// A kern attribute adds its value after every character. Metrics: ascender 0.95 em, descender
// -0.25 em, leading 0, so the line height is 1.2 em; cap height 0.7 em, x-height 0.5 em. Weight
// and italics change nothing.
// Wrapping (word wrapping): a line may break after a run of spaces and before or after any wide
// character; spaces at the end of a line hang (they do not count in its width); a word wider than
// the line is broken between characters. Character wrapping breaks between any two characters.
// "\n", "\r\n", "\r", U+2028 and U+2029 end a line; a final line break adds no empty line.
//
// The REAL measurer lays text out with pango in the font "WenQuanYi Micro Hei" (its Mono face for
// Courier), at 72 dpi so that one point is one unit, with unhinted metrics; pango breaks between
// CJK characters and at Latin word boundaries. A kern goes after every character here too, the
// last of a line included, so a box as wide as a measured line holds it whole. Drawing always
// uses the real measurer, whatever the switch says; the app's start-up switches measurement to
// it, so that what is measured is what is drawn.
//
// Layout results: a line's height is the largest line height of the fonts on it; the size's
// width is the widest line (unrounded) and its height the sum of line heights plus the line
// spacing between lines. When lines are limited (maxLines, or maxHeight: as many whole lines as
// fit, never fewer than one) and truncateLastLine is set, the last visible line is truncated with
// "…" according to the line break mode (tail unless head or middle is asked); a single unwrapped
// line wider than the width is truncated the same way under a truncating mode.

#include <cairo.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "graphics/NSParagraphStyle.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"

struct FontMetrics {
    CGFloat ascender = 0;
    CGFloat descender = 0;  // negative
    CGFloat leading = 0;
    CGFloat capHeight = 0;
    CGFloat xHeight = 0;
};

// A stretch of text in one style.
struct TextRun {
    std::string text;    // UTF-8
    Ref<UIFont> font;    // null: the system font of size 12
    Ref<UIColor> color;  // null: black (drawing only)
    CGFloat kern = 0;
};

struct TextLayoutRequest {
    std::vector<TextRun> runs;
    static constexpr CGFloat kUnlimited = std::numeric_limits<CGFloat>::infinity();
    CGFloat maxWidth = kUnlimited;
    CGFloat maxHeight = kUnlimited;
    int maxLines = 0;  // 0: no limit
    // False: lines end only at line breaks (one-line sizes).
    bool wraps = true;
    NSLineBreakMode lineBreakMode = NSLineBreakByWordWrapping;
    bool truncateLastLine = false;
    NSTextAlignment alignment = NSTextAlignmentNatural;
    CGFloat lineSpacing = 0;
    bool usesFontLeading = false;
};

struct TextLine {
    std::string text;  // as shown, with "…" where truncated
    CGFloat width = 0;
    CGFloat y = 0;  // top of the line
    CGFloat height = 0;
    CGFloat ascent = 0;  // baseline = y + ascent
    bool truncated = false;
};

struct TextLayout {
    std::vector<TextLine> lines;
    CGSize size{};
    // Some text did not fit (lines dropped or a line truncated or clipped).
    bool truncated = false;
};

class TextMeasurer {
  public:
    virtual ~TextMeasurer() = default;
    virtual FontMetrics metrics(const UIFont& font) const = 0;
    virtual TextLayout layout(const TextLayoutRequest& request) const = 0;
    virtual bool isDeterministic() const = 0;

    // The measurer that measurement uses now.
    static const TextMeasurer& current();
    static const TextMeasurer& deterministic();
    static const TextMeasurer& real();
    // Process-wide switch; the deterministic measurer is the default (the test programs set it
    // again before every test).
    static void useDeterministic(bool deterministic);
    static bool usesDeterministic();
};

typedef struct _PangoContext PangoContext;
typedef struct _PangoFontDescription PangoFontDescription;

namespace detail {
// For platform code that lays text out with pango itself (the web page renderer), so that its
// text measures and draws as the real measurer's: runs `work` with the real measurer's pango
// context under the lock that guards it (no other text work may start inside), and describes a
// font as the real measurer does (the caller frees the description).
void withRealPangoContext(const std::function<void(PangoContext*)>& work);
PangoFontDescription* realFontDescription(const UIFont& font);

// Draws a laid-out request with the real measurer at `origin` (the top left of the first line)
// in the cairo context's user space, lines aligned within `alignWidth` (infinite: left). With
// coverageOnly everything is drawn opaque black. `alpha` multiplies the text colours.
void drawTextWithRealMeasurer(cairo_t* cr, const TextLayoutRequest& request, CGPoint origin,
                              CGFloat alignWidth, bool coverageOnly, CGFloat alpha);
}  // namespace detail

#pragma once
// Measuring and drawing strings and attributed strings.
//
// Measurement goes through the current text measurer (TextMeasurer.h: deterministic by default,
// real when switched); drawing always lays out and draws with the real one, into
// UIGraphicsGetCurrentContext() (nothing happens without a context). A string without a font
// attribute uses the system font of size 12; without a colour, black. Sizes are unrounded except
// the older sizeWithFont forms, which round up to whole points as the platform did.
//
// boundingRectWithSize: with NSStringDrawingUsesLineFragmentOrigin the text wraps within the
// width (0 or less: no limit) and keeps as many whole lines as fit the height (at least one);
// NSStringDrawingTruncatesLastVisibleLine truncates the last kept line when text is left over.
// The rectangle starts at (0, 0). Without UsesLineFragmentOrigin the text is one line per line
// break, measured from its baseline: the rectangle starts at (0, -ascender).
// Paragraph styles (line break mode, alignment, line spacing) are read from the first character.

#include <cstdint>
#include <string>

#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "graphics/NSAttributedString.h"
#include "graphics/NSParagraphStyle.h"
#include "graphics/TextMeasurer.h"
#include "graphics/UIFont.h"

using NSStringDrawingOptions = std::uint32_t;
enum : std::uint32_t {
    NSStringDrawingUsesLineFragmentOrigin = 1u << 0,
    NSStringDrawingUsesFontLeading = 1u << 1,
    NSStringDrawingUsesDeviceMetrics = 1u << 3,
    NSStringDrawingTruncatesLastVisibleLine = 1u << 5,
};

namespace NSStringDrawing {

// Plain strings with an attribute dictionary.
CGSize sizeWithAttributes(const std::string& string, const Dictionary& attributes);
CGRect boundingRectWithSize(const std::string& string, CGSize size, NSStringDrawingOptions options,
                            const Dictionary& attributes);
void drawAtPoint(const std::string& string, CGPoint point, const Dictionary& attributes);
void drawInRect(const std::string& string, CGRect rect, const Dictionary& attributes);
void drawWithRect(const std::string& string, CGRect rect, NSStringDrawingOptions options,
                  const Dictionary& attributes);

// The older forms, rounded up to whole points.
CGSize sizeWithFont(const std::string& string, const Ref<UIFont>& font);
CGSize sizeWithFont(const std::string& string, const Ref<UIFont>& font, CGSize constrainedToSize,
                    NSLineBreakMode lineBreakMode = NSLineBreakByWordWrapping);
// One line no wider than width.
CGSize sizeWithFont(const std::string& string, const Ref<UIFont>& font, CGFloat forWidth,
                    NSLineBreakMode lineBreakMode);
CGSize drawAtPoint(const std::string& string, CGPoint point, const Ref<UIFont>& font);
CGSize drawInRect(const std::string& string, CGRect rect, const Ref<UIFont>& font,
                  NSLineBreakMode lineBreakMode = NSLineBreakByWordWrapping,
                  NSTextAlignment alignment = NSTextAlignmentLeft);

// Attributed strings.
CGSize size(const NSAttributedString& string);
CGRect boundingRectWithSize(const NSAttributedString& string, CGSize size, NSStringDrawingOptions options);
void drawAtPoint(const NSAttributedString& string, CGPoint point);
void drawInRect(const NSAttributedString& string, CGRect rect);
void drawWithRect(const NSAttributedString& string, CGRect rect, NSStringDrawingOptions options);

}  // namespace NSStringDrawing

namespace detail {
// The layout request for an attributed string; the paragraph style of its first character sets
// the mode, alignment and spacing.
TextLayoutRequest requestForAttributedString(const NSAttributedString& string);
// Draws a request into the current context with the real measurer, lines from the top left of
// rect (alignment within rect's width when it is finite).
void drawRequestInCurrentContext(const TextLayoutRequest& request, CGRect rect);
}  // namespace detail

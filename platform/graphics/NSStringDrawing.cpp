#include "graphics/NSStringDrawing.h"

#include <algorithm>
#include <cmath>

#include "graphics/UIGraphics.h"

namespace {

// Widths and heights at or beyond this (or not above 0) mean "no limit".
constexpr CGFloat kNoLimit = 1e7;

CGFloat limitOf(CGFloat v) {
    return (v > 0 && v < kNoLimit) ? v : TextLayoutRequest::kUnlimited;
}

TextRun runFor(const std::string& text, const Dictionary& attributes) {
    TextRun run;
    run.text = text;
    run.font = attributes[NSFontAttributeName].objectAs<UIFont>();
    run.color = attributes[NSForegroundColorAttributeName].objectAs<UIColor>();
    run.kern = attributes[NSKernAttributeName].doubleValue();
    return run;
}

void applyParagraphStyle(TextLayoutRequest& request, const Value& value) {
    auto style = value.objectAs<NSParagraphStyle>();
    if (!style) return;
    request.lineBreakMode = style->lineBreakMode();
    request.alignment = style->alignment();
    request.lineSpacing = style->lineSpacing();
}

TextLayoutRequest requestFor(const std::string& string, const Dictionary& attributes) {
    TextLayoutRequest request;
    request.runs.push_back(runFor(string, attributes));
    applyParagraphStyle(request, attributes[NSParagraphStyleAttributeName]);
    return request;
}

CGFloat firstAscender(const TextLayoutRequest& request, const TextMeasurer& measurer) {
    Ref<UIFont> font = request.runs.empty() || !request.runs.front().font ? UIFont::systemFontOfSize(12)
                                                                          : request.runs.front().font;
    return measurer.metrics(*font).ascender;
}

CGRect boundingRect(TextLayoutRequest request, CGSize size, NSStringDrawingOptions options) {
    const TextMeasurer& measurer = TextMeasurer::current();
    request.usesFontLeading = options & NSStringDrawingUsesFontLeading;
    if (!(options & NSStringDrawingUsesLineFragmentOrigin)) {
        request.wraps = false;
        TextLayout layout = measurer.layout(request);
        CGFloat ascender = firstAscender(request, measurer);
        return CGRectMake(0, -ascender, layout.size.width, layout.size.height);
    }
    request.maxWidth = limitOf(size.width);
    request.maxHeight = limitOf(size.height);
    request.truncateLastLine = options & NSStringDrawingTruncatesLastVisibleLine;
    TextLayout layout = measurer.layout(request);
    return CGRectMake(0, 0, layout.size.width, layout.size.height);
}

CGSize oneLineSize(TextLayoutRequest request) {
    request.wraps = false;
    return TextMeasurer::current().layout(request).size;
}

CGSize ceilSize(CGSize s) {
    return CGSizeMake(std::ceil(s.width - 1e-9), std::ceil(s.height - 1e-9));
}

Dictionary fontAttributes(const Ref<UIFont>& font) {
    Dictionary attributes;
    if (font) attributes.setObject(NSFontAttributeName, font);
    return attributes;
}

}  // namespace

TextLayoutRequest detail::requestForAttributedString(const NSAttributedString& string) {
    TextLayoutRequest request;
    string.enumerateAttributesInRange(NSMakeRange(0, string.length()),
                                      [&](const Dictionary& attributes, NSRange range, bool*) {
                                          auto part = string.attributedSubstringFromRange(range);
                                          request.runs.push_back(runFor(part->string(), attributes));
                                      });
    if (string.length() > 0)
        applyParagraphStyle(request, string.attributeAtIndex(NSParagraphStyleAttributeName, 0));
    return request;
}

void detail::drawRequestInCurrentContext(const TextLayoutRequest& request, CGRect rect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context || request.runs.empty()) return;
    TextLayout layout = TextMeasurer::real().layout(request);
    if (layout.lines.empty()) return;
    CGFloat alignWidth = std::isfinite(rect.size.width) ? rect.size.width : TextLayoutRequest::kUnlimited;
    CGFloat fontSize = 12;
    for (const auto& run : request.runs) {
        if (run.font) fontSize = std::max(fontSize, run.font->pointSize());
    }
    // The area the glyphs may reach: the laid-out box, the alignment width, and some overhang.
    CGFloat width = std::max(layout.size.width, std::isfinite(alignWidth) ? alignWidth : 0.0);
    CGRect bounds = CGRectInset(CGRectMake(rect.origin.x, rect.origin.y, width, layout.size.height),
                                -fontSize, -fontSize);
    CGFloat alpha = context->alpha();
    context->drawWithCairo(bounds, [&](cairo_t* cr, bool coverageOnly) {
        detail::drawTextWithRealMeasurer(cr, request, rect.origin, alignWidth, coverageOnly, alpha);
    });
}

namespace NSStringDrawing {

CGSize sizeWithAttributes(const std::string& string, const Dictionary& attributes) {
    return oneLineSize(requestFor(string, attributes));
}

CGRect boundingRectWithSize(const std::string& string, CGSize size, NSStringDrawingOptions options,
                            const Dictionary& attributes) {
    return boundingRect(requestFor(string, attributes), size, options);
}

void drawAtPoint(const std::string& string, CGPoint point, const Dictionary& attributes) {
    TextLayoutRequest request = requestFor(string, attributes);
    request.wraps = false;
    detail::drawRequestInCurrentContext(
        request, CGRectMake(point.x, point.y, TextLayoutRequest::kUnlimited, TextLayoutRequest::kUnlimited));
}

void drawInRect(const std::string& string, CGRect rect, const Dictionary& attributes) {
    drawWithRect(string, rect,
                 NSStringDrawingUsesLineFragmentOrigin | NSStringDrawingTruncatesLastVisibleLine, attributes);
}

void drawWithRect(const std::string& string, CGRect rect, NSStringDrawingOptions options,
                  const Dictionary& attributes) {
    TextLayoutRequest request = requestFor(string, attributes);
    rect = CGRectStandardize(rect);
    request.maxWidth = limitOf(rect.size.width);
    request.maxHeight = limitOf(rect.size.height);
    request.wraps = options & NSStringDrawingUsesLineFragmentOrigin;
    request.truncateLastLine = options & NSStringDrawingTruncatesLastVisibleLine;
    detail::drawRequestInCurrentContext(request, rect);
}

CGSize sizeWithFont(const std::string& string, const Ref<UIFont>& font) {
    return ceilSize(sizeWithAttributes(string, fontAttributes(font)));
}

CGSize sizeWithFont(const std::string& string, const Ref<UIFont>& font, CGSize constrainedToSize,
                    NSLineBreakMode lineBreakMode) {
    TextLayoutRequest request = requestFor(string, fontAttributes(font));
    request.lineBreakMode = lineBreakMode;
    request.maxWidth = limitOf(constrainedToSize.width);
    request.maxHeight = limitOf(constrainedToSize.height);
    request.truncateLastLine = lineBreakMode >= NSLineBreakByTruncatingHead;
    return ceilSize(TextMeasurer::current().layout(request).size);
}

CGSize sizeWithFont(const std::string& string, const Ref<UIFont>& font, CGFloat forWidth,
                    NSLineBreakMode lineBreakMode) {
    TextLayoutRequest request = requestFor(string, fontAttributes(font));
    request.lineBreakMode = lineBreakMode;
    request.wraps = false;
    request.maxLines = 1;
    request.maxWidth = limitOf(forWidth);
    request.truncateLastLine = true;
    CGSize s = TextMeasurer::current().layout(request).size;
    if (std::isfinite(request.maxWidth)) s.width = std::min(s.width, request.maxWidth);
    return ceilSize(s);
}

CGSize drawAtPoint(const std::string& string, CGPoint point, const Ref<UIFont>& font) {
    drawAtPoint(string, point, fontAttributes(font));
    return sizeWithFont(string, font);
}

CGSize drawInRect(const std::string& string, CGRect rect, const Ref<UIFont>& font,
                  NSLineBreakMode lineBreakMode, NSTextAlignment alignment) {
    TextLayoutRequest request = requestFor(string, fontAttributes(font));
    rect = CGRectStandardize(rect);
    request.lineBreakMode = lineBreakMode;
    request.alignment = alignment;
    request.maxWidth = limitOf(rect.size.width);
    request.maxHeight = limitOf(rect.size.height);
    request.truncateLastLine = lineBreakMode >= NSLineBreakByTruncatingHead;
    detail::drawRequestInCurrentContext(request, rect);
    return ceilSize(TextMeasurer::current().layout(request).size);
}

CGSize size(const NSAttributedString& string) {
    return oneLineSize(detail::requestForAttributedString(string));
}

CGRect boundingRectWithSize(const NSAttributedString& string, CGSize size, NSStringDrawingOptions options) {
    return boundingRect(detail::requestForAttributedString(string), size, options);
}

void drawAtPoint(const NSAttributedString& string, CGPoint point) {
    TextLayoutRequest request = detail::requestForAttributedString(string);
    request.wraps = false;
    detail::drawRequestInCurrentContext(
        request, CGRectMake(point.x, point.y, TextLayoutRequest::kUnlimited, TextLayoutRequest::kUnlimited));
}

void drawInRect(const NSAttributedString& string, CGRect rect) {
    drawWithRect(string, rect,
                 NSStringDrawingUsesLineFragmentOrigin | NSStringDrawingTruncatesLastVisibleLine);
}

void drawWithRect(const NSAttributedString& string, CGRect rect, NSStringDrawingOptions options) {
    TextLayoutRequest request = detail::requestForAttributedString(string);
    rect = CGRectStandardize(rect);
    request.maxWidth = limitOf(rect.size.width);
    request.maxHeight = limitOf(rect.size.height);
    request.wraps = options & NSStringDrawingUsesLineFragmentOrigin;
    request.truncateLastLine = options & NSStringDrawingTruncatesLastVisibleLine;
    detail::drawRequestInCurrentContext(request, rect);
}

}  // namespace NSStringDrawing

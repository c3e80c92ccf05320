#include "uikit/UILabel.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIGraphics.h"

namespace {

CGFloat limitOf(CGFloat v) {
    return v > 0 && std::isfinite(v) ? v : TextLayoutRequest::kUnlimited;
}

CGSize ceilSize(CGSize s) {
    return {std::ceil(s.width - 1e-9), std::ceil(s.height - 1e-9)};
}

bool truncates(NSLineBreakMode mode) {
    return mode == NSLineBreakByTruncatingHead || mode == NSLineBreakByTruncatingTail ||
           mode == NSLineBreakByTruncatingMiddle;
}

}  // namespace

UILabel::UILabel() : UILabel(CGRectZero) {}

UILabel::UILabel(CGRect frame) : UIView(frame) {
    font_ = UIFont::systemFontOfSize(17);
    textColor_ = UIColor::blackColor();
    setUserInteractionEnabled(false);
    setOpaque(false);
    setContentMode(UIViewContentModeRedraw);
}

// ---- content ------------------------------------------------------------------------------------

void UILabel::setText(const std::optional<std::string>& text) {
    NS_ASSERT_MAIN_THREAD();
    if (text == text_ && !explicitAttributedText_) return;
    KVO::willChangeValueForKey(*this, "text");
    text_ = text;
    explicitAttributedText_ = nullptr;
    KVO::didChangeValueForKey(*this, "text");
    contentChanged();
}

Ref<NSAttributedString> UILabel::attributedText() const {
    if (explicitAttributedText_) return explicitAttributedText_;
    if (!text_) return nullptr;
    auto style = make<NSMutableParagraphStyle>();
    style->setAlignment(alignment_);
    style->setLineBreakMode(lineBreakMode_);
    Dictionary attributes{{NSFontAttributeName, Value(font_)},
                          {NSForegroundColorAttributeName, Value(textColor_)},
                          {NSParagraphStyleAttributeName, Value(Ref<NSParagraphStyle>(style))}};
    return make<NSAttributedString>(*text_, attributes);
}

void UILabel::setAttributedText(const Ref<NSAttributedString>& text) {
    NS_ASSERT_MAIN_THREAD();
    KVO::willChangeValueForKey(*this, "text");
    if (!text) {
        explicitAttributedText_ = nullptr;
        text_.reset();
    } else {
        explicitAttributedText_ = text->copy();
        text_ = text->string();
    }
    KVO::didChangeValueForKey(*this, "text");
    contentChanged();
}

void UILabel::contentChanged() {
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

// ---- style --------------------------------------------------------------------------------------

void UILabel::setFont(const Ref<UIFont>& font) {
    NS_ASSERT_MAIN_THREAD();
    font_ = font ? font : UIFont::systemFontOfSize(17);
    contentChanged();
}

void UILabel::setTextColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    textColor_ = color ? color : UIColor::blackColor();
    setNeedsDisplay();
}

void UILabel::setTextAlignment(NSTextAlignment alignment) {
    NS_ASSERT_MAIN_THREAD();
    alignment_ = alignment;
    setNeedsDisplay();
}

void UILabel::setLineBreakMode(NSLineBreakMode mode) {
    NS_ASSERT_MAIN_THREAD();
    lineBreakMode_ = mode;
    contentChanged();
}

void UILabel::setNumberOfLines(long lines) {
    NS_ASSERT_MAIN_THREAD();
    numberOfLines_ = lines < 0 ? 0 : lines;
    contentChanged();
}

void UILabel::setAdjustsFontSizeToFitWidth(bool adjusts) {
    NS_ASSERT_MAIN_THREAD();
    adjustsFontSizeToFitWidth_ = adjusts;
    setNeedsDisplay();
}

void UILabel::setMinimumScaleFactor(CGFloat factor) {
    NS_ASSERT_MAIN_THREAD();
    minimumScaleFactor_ = std::clamp<CGFloat>(factor, 0, 1);
    setNeedsDisplay();
}

CGFloat UILabel::minimumFontSize() const {
    return minimumScaleFactor_ * font_->pointSize();
}

void UILabel::setMinimumFontSize(CGFloat size) {
    NS_ASSERT_MAIN_THREAD();
    setMinimumScaleFactor(font_->pointSize() > 0 ? size / font_->pointSize() : 0);
}

void UILabel::setShadowColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    shadowColor_ = color;
    setNeedsDisplay();
}

void UILabel::setShadowOffset(CGSize offset) {
    NS_ASSERT_MAIN_THREAD();
    shadowOffset_ = offset;
    setNeedsDisplay();
}

void UILabel::setPreferredMaxLayoutWidth(CGFloat width) {
    NS_ASSERT_MAIN_THREAD();
    preferredMaxLayoutWidth_ = width;
    invalidateIntrinsicContentSize();
}

void UILabel::setHighlightedTextColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    highlightedTextColor_ = color;
    setNeedsDisplay();
}

void UILabel::setHighlighted(bool highlighted) {
    NS_ASSERT_MAIN_THREAD();
    highlighted_ = highlighted;
    setNeedsDisplay();
}

void UILabel::setEnabled(bool enabled) {
    NS_ASSERT_MAIN_THREAD();
    enabled_ = enabled;
    setNeedsDisplay();
}

// ---- layout -------------------------------------------------------------------------------------

TextLayoutRequest UILabel::requestFor(CGFloat maxWidth, CGFloat maxHeight, long lines, CGFloat scale) const {
    TextLayoutRequest request;
    if (explicitAttributedText_) {
        request = detail::requestForAttributedString(*explicitAttributedText_);
    } else if (text_) {
        request.runs.push_back(TextRun{*text_, font_, textColor_, 0});
        request.alignment = alignment_;
        request.lineBreakMode = lineBreakMode_;
    }
    if (scale != 1) {
        for (auto& run : request.runs) {
            auto font = run.font ? run.font : UIFont::systemFontOfSize(12);
            run.font = font->fontWithSize(std::max<CGFloat>(1, font->pointSize() * scale));
        }
    }
    request.maxWidth = limitOf(maxWidth);
    request.maxHeight = limitOf(maxHeight);
    request.maxLines = static_cast<int>(lines);
    request.wraps = true;
    request.truncateLastLine = truncates(request.lineBreakMode);
    return request;
}

CGFloat UILabel::shrinkScaleForBounds(CGRect bounds) const {
    if (!adjustsFontSizeToFitWidth_ || bounds.size.width <= 0) return 1;
    const TextMeasurer& measurer = TextMeasurer::current();
    auto fits = [&](CGFloat scale) {
        if (numberOfLines_ == 1) {
            TextLayoutRequest r = requestFor(0, 0, 0, scale);
            r.wraps = false;
            r.truncateLastLine = false;
            return measurer.layout(r).size.width <= bounds.size.width + 1e-6;
        }
        TextLayoutRequest r = requestFor(bounds.size.width, 0, 0, scale);
        r.truncateLastLine = false;
        TextLayout layout = measurer.layout(r);
        if (numberOfLines_ > 0 && layout.lines.size() > static_cast<std::size_t>(numberOfLines_))
            return false;
        return layout.size.height <= bounds.size.height + 1e-6;
    };
    if (fits(1)) return 1;
    CGFloat smallest = minimumScaleFactor_;
    const CGFloat largestFont = [&] {
        CGFloat size = 0;
        for (auto& run : requestFor(0, 0, 0, 1).runs)
            size = std::max(size, run.font ? run.font->pointSize() : 12);
        return size;
    }();
    if (smallest <= 0) smallest = largestFont > 0 ? 1 / largestFont : 0.01;
    if (!fits(smallest)) return smallest;
    CGFloat lo = smallest, hi = 1;
    for (int i = 0; i < 24; ++i) {
        CGFloat mid = (lo + hi) / 2;
        (fits(mid) ? lo : hi) = mid;
    }
    return lo;
}

Ref<UIFont> UILabel::fontForDrawing() const {
    CGFloat scale = shrinkScaleForBounds(bounds());
    if (scale == 1) return font_;
    return font_->fontWithSize(std::max<CGFloat>(1, font_->pointSize() * scale));
}

CGSize UILabel::sizeThatFits(CGSize size) const {
    if (!text_ || text_->empty()) return CGSizeZero;
    CGFloat width = numberOfLines_ == 1 ? 0 : size.width;
    TextLayoutRequest request = requestFor(width, 0, numberOfLines_, 1);
    return ceilSize(TextMeasurer::current().layout(request).size);
}

CGSize UILabel::intrinsicContentSize() const {
    if (!text_ || text_->empty()) return CGSizeZero;
    CGFloat width = numberOfLines_ == 1 ? 0 : preferredMaxLayoutWidth_;
    TextLayoutRequest request = requestFor(width, 0, numberOfLines_, 1);
    return ceilSize(TextMeasurer::current().layout(request).size);
}

CGRect UILabel::textRectForBounds(CGRect bounds, long numberOfLines) const {
    if (!text_ || text_->empty()) return {bounds.origin, CGSizeZero};
    const CGFloat scale = shrinkScaleForBounds(bounds);
    TextLayoutRequest request = requestFor(bounds.size.width, bounds.size.height, numberOfLines, scale);
    CGSize size = TextMeasurer::current().layout(request).size;
    size.width = std::min(size.width, std::max<CGFloat>(0, bounds.size.width));
    size.height = std::min(size.height, std::max<CGFloat>(0, bounds.size.height));
    return {bounds.origin, size};
}

TextLayout UILabel::currentLayout() const {
    const CGRect b = bounds();
    TextLayoutRequest request =
        requestFor(b.size.width, b.size.height, numberOfLines_, shrinkScaleForBounds(b));
    if (request.runs.empty()) return {};
    return TextMeasurer::current().layout(request);
}

void UILabel::boundsSizeDidChange(CGSize oldSize) {
    setNeedsDisplay();
}

// ---- drawing ------------------------------------------------------------------------------------

Ref<UIColor> UILabel::drawingColor() const {
    if (highlighted_ && highlightedTextColor_) return highlightedTextColor_;
    if (!enabled_) return UIColor::colorWithWhite(0.56, 1);
    return nullptr;  // the text's own colours
}

void UILabel::drawTextInRect(CGRect rect) {
    NS_ASSERT_MAIN_THREAD();
    if (!text_ || text_->empty() || !UIGraphicsGetCurrentContext()) return;
    const CGFloat scale = shrinkScaleForBounds(rect);
    TextLayoutRequest request = requestFor(rect.size.width, rect.size.height, numberOfLines_, scale);
    if (request.runs.empty()) return;
    if (auto color = drawingColor()) {
        for (auto& run : request.runs) run.color = color;
    }
    // Placed with the same measurer that draws, so the text sits centred whatever measures.
    TextLayout layout = TextMeasurer::real().layout(request);
    CGFloat y = rect.origin.y + (rect.size.height - layout.size.height) / 2;
    if (layout.size.height > rect.size.height) y = rect.origin.y;
    CGRect textRect{{rect.origin.x, y}, {rect.size.width, layout.size.height}};
    if (shadowColor_ && shadowColor_->alpha() > 0 &&
        (shadowOffset_.width != 0 || shadowOffset_.height != 0)) {
        TextLayoutRequest shadow = request;
        for (auto& run : shadow.runs) run.color = shadowColor_;
        detail::drawRequestInCurrentContext(
            shadow, CGRectOffset(textRect, shadowOffset_.width, shadowOffset_.height));
    }
    detail::drawRequestInCurrentContext(request, textRect);
}

void UILabel::drawRect(CGRect rect) {
    drawTextInRect(bounds());
}

Value UILabel::valueForKey(const std::string& key) const {
    if (key == "text") return Value(text_);
    return UIView::valueForKey(key);
}

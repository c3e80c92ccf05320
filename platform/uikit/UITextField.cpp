#include "uikit/UITextField.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"
#include "uikit/UITextEntryDriver.h"

namespace {

constexpr CGFloat kRoundedInset = 7;
constexpr CGFloat kClearButtonSize = 19;

const Ref<UIColor>& placeholderGrey() {
    static const Ref<UIColor> grey = UIColor::colorWithWhite(0.7, 1);
    return grey;
}

// One line of text drawn vertically centred in rect.
void drawLine(TextLayoutRequest request, CGRect rect) {
    if (request.runs.empty() || !UIGraphicsGetCurrentContext()) return;
    request.wraps = false;
    request.maxLines = 1;
    request.maxWidth = TextLayoutRequest::kUnlimited;
    TextLayout layout = TextMeasurer::real().layout(request);
    CGFloat y = rect.origin.y + (rect.size.height - layout.size.height) / 2;
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGContextSaveGState(context);
    CGContextClipToRect(context, rect);
    detail::drawRequestInCurrentContext(request,
                                        CGRectMake(rect.origin.x, y, rect.size.width, layout.size.height));
    CGContextRestoreGState(context);
}

}  // namespace

UIAppearanceProxy& UITextField::appearance() {
    static UIAppearanceProxy proxy;
    return proxy;
}

UITextField::UITextField() : UITextField(CGRectZero) {}

UITextField::UITextField(CGRect frame) : UIControl(frame) {
    font_ = UIFont::systemFontOfSize(17);
    textColor_ = UIColor::blackColor();
    setOpaque(false);
    setContentVerticalAlignment(UIControlContentVerticalAlignmentCenter);
    if (auto tint = appearance().tintColor()) setTintColor(tint);
    if (auto color = appearance().textColor()) textColor_ = color;
    if (auto font = appearance().font()) font_ = font;
}

// ---- content ------------------------------------------------------------------------------------

void UITextField::setText(const std::optional<std::string>& text) {
    NS_ASSERT_MAIN_THREAD();
    KVO::willChangeValueForKey(*this, "text");
    text_ = text.value_or(std::string());
    attributedText_ = nullptr;
    KVO::didChangeValueForKey(*this, "text");
    selection_ = NSMakeRange(NSString::length(text_), 0);
    updateSideViews();
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

Ref<NSAttributedString> UITextField::attributedText() const {
    if (attributedText_) return attributedText_;
    return make<NSAttributedString>(text_, Dictionary{{NSFontAttributeName, Value(font_)},
                                                      {NSForegroundColorAttributeName, Value(textColor_)}});
}

void UITextField::setAttributedText(const Ref<NSAttributedString>& text) {
    NS_ASSERT_MAIN_THREAD();
    setText(text ? std::optional<std::string>(text->string()) : std::nullopt);
    attributedText_ = text ? text->copy() : nullptr;
}

void UITextField::setPlaceholder(const std::optional<std::string>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    placeholder_ = placeholder;
    attributedPlaceholder_ = nullptr;
    setNeedsDisplay();
}

void UITextField::setAttributedPlaceholder(const Ref<NSAttributedString>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    attributedPlaceholder_ = placeholder ? placeholder->copy() : nullptr;
    placeholder_ = placeholder ? std::optional<std::string>(placeholder->string()) : std::nullopt;
    setNeedsDisplay();
}

// ---- style --------------------------------------------------------------------------------------

void UITextField::setFont(const Ref<UIFont>& font) {
    NS_ASSERT_MAIN_THREAD();
    font_ = font ? font : UIFont::systemFontOfSize(17);
    attributedText_ = nullptr;
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void UITextField::setTextColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    textColor_ = color ? color : UIColor::blackColor();
    attributedText_ = nullptr;
    setNeedsDisplay();
}

void UITextField::setTextAlignment(NSTextAlignment alignment) {
    NS_ASSERT_MAIN_THREAD();
    alignment_ = alignment;
    setNeedsDisplay();
}

void UITextField::setBorderStyle(UITextBorderStyle style) {
    NS_ASSERT_MAIN_THREAD();
    borderStyle_ = style;
    if (style == UITextBorderStyleRoundedRect && !backgroundColor())
        setBackgroundColor(UIColor::whiteColor());
    invalidateIntrinsicContentSize();
    setNeedsLayout();
    setNeedsDisplay();
}

void UITextField::setBackground(const Ref<UIImage>& image) {
    NS_ASSERT_MAIN_THREAD();
    background_ = image;
    setNeedsDisplay();
}

void UITextField::setSecureTextEntry(bool on) {
    NS_ASSERT_MAIN_THREAD();
    traits_.secureTextEntry = on;
    setNeedsDisplay();
}

// ---- side views ---------------------------------------------------------------------------------

void UITextField::setClearButtonMode(UITextFieldViewMode mode) {
    NS_ASSERT_MAIN_THREAD();
    clearButtonMode_ = mode;
    setNeedsLayout();
    setNeedsDisplay();
}

void UITextField::setLeftView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (leftView_ == view) return;
    if (leftView_) leftView_->removeFromSuperview();
    leftView_ = view;
    if (leftView_) addSubview(leftView_);
    updateSideViews();
}

void UITextField::setLeftViewMode(UITextFieldViewMode mode) {
    NS_ASSERT_MAIN_THREAD();
    leftViewMode_ = mode;
    updateSideViews();
}

void UITextField::setRightView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (rightView_ == view) return;
    if (rightView_) rightView_->removeFromSuperview();
    rightView_ = view;
    if (rightView_) addSubview(rightView_);
    updateSideViews();
}

void UITextField::setRightViewMode(UITextFieldViewMode mode) {
    NS_ASSERT_MAIN_THREAD();
    rightViewMode_ = mode;
    updateSideViews();
}

bool UITextField::viewModeShows(UITextFieldViewMode mode) const {
    switch (mode) {
        case UITextFieldViewModeNever:
            return false;
        case UITextFieldViewModeWhileEditing:
            return editing_;
        case UITextFieldViewModeUnlessEditing:
            return !editing_;
        case UITextFieldViewModeAlways:
            return true;
    }
    return false;
}

bool UITextField::isClearButtonShowing() const {
    return !text_.empty() && viewModeShows(clearButtonMode_);
}

void UITextField::updateSideViews() {
    if (leftView_) leftView_->setHidden(!viewModeShows(leftViewMode_));
    if (rightView_) rightView_->setHidden(!viewModeShows(rightViewMode_) || isClearButtonShowing());
    setNeedsLayout();
}

// ---- editing ------------------------------------------------------------------------------------

bool UITextField::canBecomeFirstResponder() const {
    return isEnabled();
}

bool UITextField::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder() || !window()) return false;
    auto keepAlive = weak_from_this().lock();
    auto d = delegate();
    if (d && !d->textFieldShouldBeginEditing(*this).value_or(true)) return false;
    detail::keyboardWillBecomeFirstResponder();
    if (!UIControl::becomeFirstResponder()) {
        detail::keyboardTakeoverFailed();
        return false;
    }
    editing_ = true;
    if (clearsOnBeginEditing_ && !text_.empty()) setText(std::string());
    selection_ = NSMakeRange(NSString::length(text_), 0);
    updateSideViews();
    setNeedsDisplay();
    if (auto d2 = delegate()) d2->textFieldDidBeginEditing(*this);
    sendActionsForEvents(UIControlEventEditingDidBegin, nullptr);
    NSNotificationCenter::defaultCenter()->postNotificationName(UITextFieldTextDidBeginEditingNotification,
                                                                keepAlive);
    if (isFirstResponder()) detail::keyboardDidBecomeFirstResponder(*this, inputView_, inputAccessoryView_);
    return true;
}

bool UITextField::resignFirstResponder() {
    if (!isFirstResponder()) {
        editing_ = false;
        return UIControl::resignFirstResponder();
    }
    auto keepAlive = weak_from_this().lock();
    auto d = delegate();
    if (d && !d->textFieldShouldEndEditing(*this).value_or(true)) return false;
    UIControl::resignFirstResponder();
    editing_ = false;
    updateSideViews();
    setNeedsDisplay();
    if (auto d2 = delegate()) d2->textFieldDidEndEditing(*this);
    sendActionsForEvents(UIControlEventEditingDidEnd, nullptr);
    NSNotificationCenter::defaultCenter()->postNotificationName(UITextFieldTextDidEndEditingNotification,
                                                                keepAlive);
    detail::keyboardDidResignFirstResponder(*this);
    return true;
}

bool UITextField::edit(NSRange range, const std::string& replacement, bool askDelegate) {
    if (!isAcceptingText()) return false;
    auto keepAlive = weak_from_this().lock();
    NSRange r = detail::clampRange(range, NSString::length(text_));
    if (askDelegate) {
        if (auto d = delegate()) {
            if (!d->textFieldShouldChangeCharactersInRange(*this, r, replacement).value_or(true))
                return false;
        }
        // The delegate may have changed the text itself before agreeing.
        r = detail::clampRange(r, NSString::length(text_));
    }
    KVO::willChangeValueForKey(*this, "text");
    text_ = detail::replaceUTF16Range(text_, r, replacement);
    attributedText_ = nullptr;
    KVO::didChangeValueForKey(*this, "text");
    selection_ = NSMakeRange(r.location + NSString::length(replacement), 0);
    textChangedByUser();
    return true;
}

void UITextField::textChangedByUser() {
    auto keepAlive = weak_from_this().lock();
    updateSideViews();
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
    sendActionsForEvents(UIControlEventEditingChanged, nullptr);
    NSNotificationCenter::defaultCenter()->postNotificationName(UITextFieldTextDidChangeNotification,
                                                                keepAlive);
}

bool UITextField::insertText(const std::string& text) {
    return edit(selection_, text, true);
}

bool UITextField::deleteBackward() {
    if (!isAcceptingText()) return false;
    if (selection_.length > 0) return edit(selection_, std::string(), true);
    if (selection_.location == 0) return false;
    NSRange previous = NSString::rangeOfComposedCharacterSequenceAtIndex(text_, selection_.location - 1);
    if (previous.location == NSNotFound) return false;
    return edit(previous, std::string(), true);
}

bool UITextField::replaceTextInRange(NSRange range, const std::string& text) {
    return edit(range, text, true);
}

bool UITextField::returnKeyPressed() {
    if (!isAcceptingText()) return false;
    auto keepAlive = weak_from_this().lock();
    auto d = delegate();
    if (d && !d->textFieldShouldReturn(*this).value_or(true)) return false;
    sendActionsForEvents(UIControlEventEditingDidEndOnExit, nullptr);
    if (allControlEvents() & UIControlEventEditingDidEndOnExit) resignFirstResponder();
    return true;
}

void UITextField::setSelectedRange(NSRange range) {
    selection_ = detail::clampRange(range, NSString::length(text_));
}

bool UITextField::pressClearButton() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!isClearButtonShowing()) return false;
    auto keepAlive = weak_from_this().lock();
    if (!isAcceptingText() && !becomeFirstResponder()) return false;
    auto d = delegate();
    if (d && !d->textFieldShouldClear(*this).value_or(true)) return false;
    KVO::willChangeValueForKey(*this, "text");
    text_.clear();
    attributedText_ = nullptr;
    KVO::didChangeValueForKey(*this, "text");
    selection_ = NSMakeRange(0, 0);
    textChangedByUser();
    return true;
}

void UITextField::endTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) {
    if (isTouchInside() && !isFirstResponder()) becomeFirstResponder();
}

// ---- layout and drawing -------------------------------------------------------------------------

CGRect UITextField::leftViewRectForBounds(CGRect bounds) const {
    if (!leftView_) return CGRectZero;
    CGSize size = leftView_->frame().size;
    return CGRectMake(bounds.origin.x, bounds.origin.y + (bounds.size.height - size.height) / 2, size.width,
                      size.height);
}

CGRect UITextField::rightViewRectForBounds(CGRect bounds) const {
    if (!rightView_) return CGRectZero;
    CGSize size = rightView_->frame().size;
    return CGRectMake(CGRectGetMaxX(bounds) - size.width,
                      bounds.origin.y + (bounds.size.height - size.height) / 2, size.width, size.height);
}

CGRect UITextField::clearButtonRectForBounds(CGRect bounds) const {
    return CGRectMake(CGRectGetMaxX(bounds) - kRoundedInset - kClearButtonSize,
                      bounds.origin.y + (bounds.size.height - kClearButtonSize) / 2, kClearButtonSize,
                      kClearButtonSize);
}

CGRect UITextField::textRectForBounds(CGRect bounds) const {
    CGFloat left = bounds.origin.x, right = CGRectGetMaxX(bounds);
    if (borderStyle_ == UITextBorderStyleRoundedRect) {
        left += kRoundedInset;
        right -= kRoundedInset;
    } else if (borderStyle_ != UITextBorderStyleNone) {
        left += 2;
        right -= 2;
    }
    if (leftView_ && !leftView_->isHidden())
        left = std::max(left, CGRectGetMaxX(leftViewRectForBounds(bounds)));
    if (isClearButtonShowing()) {
        right = std::min(right, clearButtonRectForBounds(bounds).origin.x);
    } else if (rightView_ && !rightView_->isHidden()) {
        right = std::min(right, rightViewRectForBounds(bounds).origin.x);
    }
    return CGRectMake(left, bounds.origin.y, std::max<CGFloat>(0, right - left), bounds.size.height);
}

void UITextField::layoutSubviews() {
    UIControl::layoutSubviews();
    if (leftView_) leftView_->setFrame(leftViewRectForBounds(bounds()));
    if (rightView_) rightView_->setFrame(rightViewRectForBounds(bounds()));
}

std::string UITextField::displayedText() const {
    if (!traits_.secureTextEntry) return text_;
    std::string bullets;
    for (std::size_t i = 0, n = NSString::composedCharacterSequenceRanges(text_).size(); i < n; ++i)
        bullets += "•";
    return bullets;
}

void UITextField::drawTextInRect(CGRect rect) {
    NS_ASSERT_MAIN_THREAD();
    TextLayoutRequest request;
    if (attributedText_ && !traits_.secureTextEntry) {
        request = detail::requestForAttributedString(*attributedText_);
    } else {
        request.runs.push_back(TextRun{displayedText(), font_, textColor_, 0});
    }
    request.alignment = alignment_;
    drawLine(request, rect);
}

void UITextField::drawPlaceholderInRect(CGRect rect) {
    NS_ASSERT_MAIN_THREAD();
    TextLayoutRequest request;
    if (attributedPlaceholder_) {
        request = detail::requestForAttributedString(*attributedPlaceholder_);
    } else if (placeholder_) {
        request.runs.push_back(TextRun{*placeholder_, font_, placeholderGrey(), 0});
    }
    request.alignment = alignment_;
    drawLine(request, rect);
}

void UITextField::drawRect(CGRect rect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGRect b = bounds();
    if (background_ && borderStyle_ != UITextBorderStyleRoundedRect) background_->drawInRect(b);
    switch (borderStyle_) {
        case UITextBorderStyleRoundedRect: {
            auto path = UIBezierPath::bezierPathWithRoundedRect(CGRectInset(b, 0.5, 0.5), 5);
            UIColor::colorWithWhite(0.8, 1)->setStroke();
            path->setLineWidth(1);
            path->stroke();
            break;
        }
        case UITextBorderStyleLine:
            UIColor::blackColor()->setStroke();
            CGContextStrokeRectWithWidth(context, CGRectInset(b, 0.5, 0.5), 1);
            break;
        case UITextBorderStyleBezel:
            UIColor::grayColor()->setStroke();
            CGContextStrokeRectWithWidth(context, CGRectInset(b, 0.5, 0.5), 1);
            break;
        case UITextBorderStyleNone:
            break;
    }
    const CGRect textRect = editing_ ? editingRectForBounds(b) : textRectForBounds(b);
    if (!text_.empty()) {
        drawTextInRect(textRect);
    } else if (placeholder_) {
        drawPlaceholderInRect(placeholderRectForBounds(b));
    }
    if (isClearButtonShowing()) {
        // A grey disc with a light cross.
        CGRect r = clearButtonRectForBounds(b);
        UIColor::colorWithWhite(0.7, 1)->setFill();
        UIBezierPath::bezierPathWithOvalInRect(r)->fill();
        UIColor::whiteColor()->setStroke();
        auto cross = UIBezierPath::bezierPath();
        CGRect inner = CGRectInset(r, 6, 6);
        cross->moveToPoint(inner.origin);
        cross->addLineToPoint(CGPointMake(CGRectGetMaxX(inner), CGRectGetMaxY(inner)));
        cross->moveToPoint(CGPointMake(CGRectGetMaxX(inner), inner.origin.y));
        cross->addLineToPoint(CGPointMake(inner.origin.x, CGRectGetMaxY(inner)));
        cross->setLineWidth(1.5);
        cross->stroke();
    }
}

CGSize UITextField::sizeThatFits(CGSize size) const {
    const std::string& shown = !text_.empty() ? text_ : placeholder_.value_or(std::string());
    CGSize text = NSStringDrawing::sizeWithFont(shown.empty() ? std::string(" ") : shown, font_);
    if (shown.empty()) text.width = 0;
    CGFloat width = text.width, height = std::ceil(font_->lineHeight());
    if (borderStyle_ == UITextBorderStyleRoundedRect) {
        width += 2 * kRoundedInset;
        height = std::max<CGFloat>(30, height + 8);
    } else if (borderStyle_ != UITextBorderStyleNone) {
        width += 4;
        height += 4;
    }
    if (leftView_) width += leftView_->frame().size.width;
    if (rightView_) width += rightView_->frame().size.width;
    return {std::ceil(width), height};
}

CGSize UITextField::intrinsicContentSize() const {
    return sizeThatFits(CGSizeZero);
}

Value UITextField::valueForKey(const std::string& key) const {
    if (key == "text") return Value(text_);
    return UIControl::valueForKey(key);
}

#include "uikit/UITextView.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIGraphics.h"
#include "uikit/UITextEntryDriver.h"

UIAppearanceProxy& UITextView::appearance() {
    static UIAppearanceProxy proxy;
    return proxy;
}

UITextView::UITextView() : UITextView(CGRectZero) {}

UITextView::UITextView(CGRect frame) : UIScrollView(frame) {
    font_ = UIFont::systemFontOfSize(12);
    textColor_ = UIColor::blackColor();
    setBackgroundColor(UIColor::whiteColor());
    if (auto tint = appearance().tintColor()) setTintColor(tint);
    if (auto color = appearance().textColor()) textColor_ = color;
    if (auto font = appearance().font()) font_ = font;
    updateContentSize();
}

// ---- content ------------------------------------------------------------------------------------

void UITextView::setText(const std::optional<std::string>& text) {
    NS_ASSERT_MAIN_THREAD();
    KVO::willChangeValueForKey(*this, "text");
    text_ = text.value_or(std::string());
    attributedText_ = nullptr;
    KVO::didChangeValueForKey(*this, "text");
    selection_ = NSMakeRange(NSString::length(text_), 0);
    updateContentSize();
    setNeedsDisplay();
}

Ref<NSAttributedString> UITextView::attributedText() const {
    if (attributedText_) return attributedText_;
    return make<NSAttributedString>(text_, Dictionary{{NSFontAttributeName, Value(font_)},
                                                      {NSForegroundColorAttributeName, Value(textColor_)}});
}

void UITextView::setAttributedText(const Ref<NSAttributedString>& text) {
    NS_ASSERT_MAIN_THREAD();
    setText(text ? std::optional<std::string>(text->string()) : std::nullopt);
    attributedText_ = text ? text->copy() : nullptr;
    updateContentSize();
}

// ---- style --------------------------------------------------------------------------------------

void UITextView::setFont(const Ref<UIFont>& font) {
    NS_ASSERT_MAIN_THREAD();
    font_ = font ? font : UIFont::systemFontOfSize(12);
    attributedText_ = nullptr;
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setTextColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    textColor_ = color ? color : UIColor::blackColor();
    attributedText_ = nullptr;
    setNeedsDisplay();
}

void UITextView::setTextAlignment(NSTextAlignment alignment) {
    NS_ASSERT_MAIN_THREAD();
    alignment_ = alignment;
    setNeedsDisplay();
}

void UITextView::setTextContainerInset(UIEdgeInsets inset) {
    NS_ASSERT_MAIN_THREAD();
    textContainerInset_ = inset;
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setLineFragmentPadding(CGFloat padding) {
    NS_ASSERT_MAIN_THREAD();
    lineFragmentPadding_ = std::max<CGFloat>(0, padding);
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setEditable(bool editable) {
    NS_ASSERT_MAIN_THREAD();
    editable_ = editable;
    if (!editable && isFirstResponder()) resignFirstResponder();
}

// ---- layout -------------------------------------------------------------------------------------

TextLayoutRequest UITextView::request(CGFloat width) const {
    TextLayoutRequest r;
    if (attributedText_) {
        r = detail::requestForAttributedString(*attributedText_);
    } else if (!text_.empty()) {
        r.runs.push_back(TextRun{text_, font_, textColor_, 0});
        r.alignment = alignment_;
    }
    r.lineBreakMode = NSLineBreakByWordWrapping;
    r.maxWidth = width > 0 ? width : TextLayoutRequest::kUnlimited;
    r.wraps = true;
    return r;
}

CGFloat UITextView::heightForWidth(CGFloat width) const {
    const CGFloat textWidth =
        width - textContainerInset_.left - textContainerInset_.right - 2 * lineFragmentPadding_;
    CGFloat height = std::ceil(font_->lineHeight());  // an empty text view is one line high
    TextLayoutRequest r = request(std::max<CGFloat>(1, textWidth));
    if (!r.runs.empty()) {
        TextLayout layout = TextMeasurer::current().layout(r);
        height = std::ceil(layout.size.height - 1e-9);
        // A final line break starts a new, empty line where the caret goes.
        if (!text_.empty() && text_.back() == '\n') height += std::ceil(font_->lineHeight());
    }
    return height + textContainerInset_.top + textContainerInset_.bottom;
}

CGFloat UITextView::textHeight() const {
    return heightForWidth(bounds().size.width);
}

void UITextView::updateContentSize() {
    setContentSize(CGSizeMake(bounds().size.width, textHeight()));
}

void UITextView::boundsSizeDidChange(CGSize oldSize) {
    UIScrollView::boundsSizeDidChange(oldSize);
    if (oldSize.width != bounds().size.width) updateContentSize();
}

CGSize UITextView::sizeThatFits(CGSize size) const {
    const CGFloat width = size.width > 0 ? size.width : bounds().size.width;
    return {width, heightForWidth(width)};
}

void UITextView::scrollRangeToVisible(NSRange range) {
    NS_ASSERT_MAIN_THREAD();
    const std::size_t length = NSString::length(text_);
    NSRange r = detail::clampRange(range, length);
    const CGFloat width =
        bounds().size.width - textContainerInset_.left - textContainerInset_.right - 2 * lineFragmentPadding_;
    // The height of the text up to the end of the range locates its last line.
    TextLayoutRequest before = request(std::max<CGFloat>(1, width));
    if (before.runs.empty()) return;
    before.runs = {TextRun{NSString::substringToIndex(text_, NSMaxRange(r)), font_, textColor_, 0}};
    const CGFloat bottom = TextMeasurer::current().layout(before).size.height + textContainerInset_.top;
    const CGFloat lineHeight = font_->lineHeight();
    scrollRectToVisible(CGRectMake(0, std::max<CGFloat>(0, bottom - lineHeight), 1, lineHeight), false);
}

void UITextView::drawRect(CGRect rect) {
    TextLayoutRequest r = request(bounds().size.width - textContainerInset_.left - textContainerInset_.right -
                                  2 * lineFragmentPadding_);
    if (r.runs.empty()) return;
    const CGFloat x = textContainerInset_.left + lineFragmentPadding_;
    detail::drawRequestInCurrentContext(
        r, CGRectMake(x, textContainerInset_.top, r.maxWidth, contentSize().height));
}

// ---- editing ------------------------------------------------------------------------------------

void UITextView::setDelegate(const Ref<UITextViewDelegate>& delegate) {
    NS_ASSERT_MAIN_THREAD();
    textDelegate_ = delegate;
    UIScrollView::setDelegate(delegate);
}

bool UITextView::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder() || !window()) return false;
    auto keepAlive = weak_from_this().lock();
    auto d = delegate();
    if (d && !d->textViewShouldBeginEditing(*this).value_or(true)) return false;
    detail::keyboardWillBecomeFirstResponder();
    if (!UIScrollView::becomeFirstResponder()) {
        detail::keyboardTakeoverFailed();
        return false;
    }
    editing_ = true;
    selection_ = NSMakeRange(NSString::length(text_), 0);
    if (auto d2 = delegate()) d2->textViewDidBeginEditing(*this);
    NSNotificationCenter::defaultCenter()->postNotificationName(UITextViewTextDidBeginEditingNotification,
                                                                keepAlive);
    if (isFirstResponder()) detail::keyboardDidBecomeFirstResponder(*this, inputView_, inputAccessoryView_);
    return true;
}

bool UITextView::resignFirstResponder() {
    if (!isFirstResponder()) {
        editing_ = false;
        return UIScrollView::resignFirstResponder();
    }
    auto keepAlive = weak_from_this().lock();
    auto d = delegate();
    if (d && !d->textViewShouldEndEditing(*this).value_or(true)) return false;
    UIScrollView::resignFirstResponder();
    editing_ = false;
    if (auto d2 = delegate()) d2->textViewDidEndEditing(*this);
    NSNotificationCenter::defaultCenter()->postNotificationName(UITextViewTextDidEndEditingNotification,
                                                                keepAlive);
    detail::keyboardDidResignFirstResponder(*this);
    return true;
}

void UITextView::touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (!isDragging() && !isFirstResponder() && editable_) {
        becomeFirstResponder();
        return;
    }
    UIScrollView::touchesEnded(touches, event);
}

bool UITextView::edit(NSRange range, const std::string& replacement) {
    if (!isAcceptingText()) return false;
    auto keepAlive = weak_from_this().lock();
    NSRange r = detail::clampRange(range, NSString::length(text_));
    if (auto d = delegate()) {
        if (!d->textViewShouldChangeTextInRange(*this, r, replacement).value_or(true)) return false;
        r = detail::clampRange(r, NSString::length(text_));
    }
    KVO::willChangeValueForKey(*this, "text");
    text_ = detail::replaceUTF16Range(text_, r, replacement);
    attributedText_ = nullptr;
    KVO::didChangeValueForKey(*this, "text");
    selection_ = NSMakeRange(r.location + NSString::length(replacement), 0);
    updateContentSize();
    setNeedsDisplay();
    if (auto d = delegate()) {
        d->textViewDidChangeSelection(*this);
        d->textViewDidChange(*this);
    }
    NSNotificationCenter::defaultCenter()->postNotificationName(UITextViewTextDidChangeNotification,
                                                                keepAlive);
    return true;
}

bool UITextView::insertText(const std::string& text) {
    return edit(selection_, text);
}

bool UITextView::deleteBackward() {
    if (!isAcceptingText()) return false;
    if (selection_.length > 0) return edit(selection_, std::string());
    if (selection_.location == 0) return false;
    NSRange previous = NSString::rangeOfComposedCharacterSequenceAtIndex(text_, selection_.location - 1);
    if (previous.location == NSNotFound) return false;
    return edit(previous, std::string());
}

bool UITextView::replaceTextInRange(NSRange range, const std::string& text) {
    return edit(range, text);
}

void UITextView::setSelectedRange(NSRange range) {
    selection_ = detail::clampRange(range, NSString::length(text_));
    if (auto d = delegate()) d->textViewDidChangeSelection(*this);
}

Value UITextView::valueForKey(const std::string& key) const {
    if (key == "text") return Value(text_);
    return UIScrollView::valueForKey(key);
}

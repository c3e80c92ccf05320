#include "uikit/UISearchBar.h"

#include <algorithm>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIGraphics.h"

// The bar's field reports here; the bar passes it on to its delegate.
class UISearchBar::FieldListener : public NSObject, public UITextFieldDelegate {
  public:
    explicit FieldListener(UISearchBar* bar) : bar_(bar) {}
    std::optional<bool> textFieldShouldBeginEditing(UITextField&) override {
        auto d = bar_->delegate();
        return d ? d->searchBarShouldBeginEditing(*bar_) : std::nullopt;
    }
    void textFieldDidBeginEditing(UITextField&) override {
        if (auto d = bar_->delegate()) d->searchBarTextDidBeginEditing(*bar_);
    }
    std::optional<bool> textFieldShouldEndEditing(UITextField&) override {
        auto d = bar_->delegate();
        return d ? d->searchBarShouldEndEditing(*bar_) : std::nullopt;
    }
    void textFieldDidEndEditing(UITextField&) override {
        if (auto d = bar_->delegate()) d->searchBarTextDidEndEditing(*bar_);
    }
    std::optional<bool> textFieldShouldChangeCharactersInRange(UITextField&, NSRange range,
                                                               const std::string& string) override {
        auto d = bar_->delegate();
        return d ? d->searchBarShouldChangeTextInRange(*bar_, range, string) : std::nullopt;
    }
    std::optional<bool> textFieldShouldReturn(UITextField&) override {
        if (auto d = bar_->delegate()) d->searchBarSearchButtonClicked(*bar_);
        return true;
    }
    void changed() {
        if (auto d = bar_->delegate()) d->searchBarTextDidChange(*bar_, bar_->text());
    }
    std::string className() const override { return "UISearchBarFieldListener"; }

  private:
    UISearchBar* bar_;  // the bar owns the listener
};

UISearchBar::UISearchBar() : UISearchBar(CGRectZero) {}

UISearchBar::UISearchBar(CGRect frame) : UIView(frame) {
    listener_ = make<FieldListener>(this);
}

void UISearchBar::didInit() {
    ensureSubviews();
}

void UISearchBar::ensureSubviews() {
    if (field_ || weak_from_this().expired()) return;
    field_ = make<UITextField>();
    field_->setBorderStyle(UITextBorderStyleRoundedRect);
    field_->setReturnKeyType(UIReturnKeySearch);
    field_->setClearButtonMode(UITextFieldViewModeWhileEditing);
    field_->setFont(UIFont::systemFontOfSize(14));
    field_->setDelegate(listener_);
    Weak<FieldListener> weak = listener_;
    field_->addTarget(
        nullptr,
        [weak](const Ref<NSObject>&, const Ref<UIEvent>&) {
            if (auto l = weak.lock()) l->changed();
        },
        UIControlEventEditingChanged);
    addSubview(field_);
    setNeedsLayout();
}

Ref<UITextField> UISearchBar::searchField() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureSubviews();
    return field_;
}

std::string UISearchBar::text() const {
    return field_ ? field_->text() : std::string();
}

void UISearchBar::setText(const std::optional<std::string>& text) {
    NS_ASSERT_MAIN_THREAD();
    if (auto field = searchField()) field->setText(text);
}

std::optional<std::string> UISearchBar::placeholder() const {
    return field_ ? field_->placeholder() : std::nullopt;
}

void UISearchBar::setPlaceholder(const std::optional<std::string>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    if (auto field = searchField()) field->setPlaceholder(placeholder);
}

void UISearchBar::setPrompt(const std::optional<std::string>& prompt) {
    NS_ASSERT_MAIN_THREAD();
    prompt_ = prompt;
    setNeedsLayout();
}

void UISearchBar::setShowsCancelButton(bool shows) {
    NS_ASSERT_MAIN_THREAD();
    showsCancelButton_ = shows;
    if (shows && !cancelButton_ && !weak_from_this().expired()) {
        cancelButton_ = UIButton::buttonWithType(UIButtonTypeSystem);
        cancelButton_->setTitle(std::string("Cancel"), UIControlStateNormal);
        cancelButton_->titleLabel()->setFont(UIFont::systemFontOfSize(17));
        cancelButton_->sizeToFit();
        Weak<UISearchBar> weak = std::static_pointer_cast<UISearchBar>(shared_from_this());
        cancelButton_->addTarget(
            nullptr,
            [weak](const Ref<NSObject>&, const Ref<UIEvent>&) {
                if (auto bar = weak.lock()) bar->simulateCancelButtonTap();
            },
            UIControlEventTouchUpInside);
        addSubview(cancelButton_);
    }
    if (cancelButton_) cancelButton_->setHidden(!shows);
    setNeedsLayout();
}

bool UISearchBar::simulateCancelButtonTap() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!showsCancelButton_) return false;
    auto keepAlive = weak_from_this().lock();
    if (auto d = delegate()) d->searchBarCancelButtonClicked(*this);
    return true;
}

void UISearchBar::setSearchBarStyle(UISearchBarStyle style) {
    NS_ASSERT_MAIN_THREAD();
    searchBarStyle_ = style;
    setNeedsDisplay();
}

void UISearchBar::setBarStyle(UIBarStyle style) {
    NS_ASSERT_MAIN_THREAD();
    barStyle_ = style;
    setNeedsDisplay();
}

void UISearchBar::setBarTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    barTintColor_ = color;
    setNeedsDisplay();
}

void UISearchBar::setBackgroundImage(const Ref<UIImage>& image) {
    NS_ASSERT_MAIN_THREAD();
    backgroundImage_ = image;
    setNeedsDisplay();
}

UIKeyboardType UISearchBar::keyboardType() const {
    return field_ ? field_->keyboardType() : UIKeyboardTypeDefault;
}

void UISearchBar::setKeyboardType(UIKeyboardType type) {
    NS_ASSERT_MAIN_THREAD();
    if (auto field = searchField()) field->setKeyboardType(type);
}

UIReturnKeyType UISearchBar::returnKeyType() const {
    return field_ ? field_->returnKeyType() : UIReturnKeySearch;
}

void UISearchBar::setReturnKeyType(UIReturnKeyType type) {
    NS_ASSERT_MAIN_THREAD();
    if (auto field = searchField()) field->setReturnKeyType(type);
}

bool UISearchBar::becomeFirstResponder() {
    auto field = searchField();
    return field && field->becomeFirstResponder();
}

bool UISearchBar::resignFirstResponder() {
    if (field_ && field_->isFirstResponder()) return field_->resignFirstResponder();
    return UIView::resignFirstResponder();
}

bool UISearchBar::isFirstResponder() const {
    return field_ && field_->isFirstResponder();
}

void UISearchBar::layoutSubviews() {
    UIView::layoutSubviews();
    ensureSubviews();
    const CGRect b = bounds();
    CGFloat right = CGRectGetMaxX(b) - kMargin;
    if (cancelButton_ && showsCancelButton_) {
        CGSize size = cancelButton_->frame().size;
        right -= size.width;
        cancelButton_->setFrame(
            CGRectMake(right, b.origin.y + (b.size.height - size.height) / 2, size.width, size.height));
        right -= kMargin;
    }
    if (field_) {
        const CGFloat x = b.origin.x + kMargin;
        field_->setFrame(CGRectMake(x, b.origin.y + kMargin, std::max<CGFloat>(0, right - x),
                                    std::max<CGFloat>(0, b.size.height - 2 * kMargin)));
    }
}

CGSize UISearchBar::sizeThatFits(CGSize size) const {
    return {size.width > 0 ? size.width : bounds().size.width, kDefaultHeight};
}

void UISearchBar::drawRect(CGRect rect) {
    if (!UIGraphicsGetCurrentContext() || searchBarStyle_ == UISearchBarStyleMinimal) return;
    if (backgroundImage_) {
        backgroundImage_->drawInRect(bounds());
        return;
    }
    Ref<UIColor> fill = barTintColor_ ? barTintColor_ : UIColor::colorWithWhite(0.79, 1);
    fill->setFill();
    UIRectFill(bounds());
}

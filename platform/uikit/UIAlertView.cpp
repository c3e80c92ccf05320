#include "uikit/UIAlertView.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UITextField.h"

UIAlertView::UIAlertView() : UIView(CGRectMake(0, 0, 270, 120)) {}

UIAlertView::UIAlertView(std::optional<std::string> title, std::optional<std::string> message,
                         const Ref<UIAlertViewDelegate>& delegate,
                         std::optional<std::string> cancelButtonTitle,
                         std::vector<std::string> otherButtonTitles)
    : UIAlertView() {
    title_ = std::move(title);
    message_ = std::move(message);
    delegate_ = delegate;
    if (cancelButtonTitle) {
        buttons_.push_back(*cancelButtonTitle);
        cancelButtonIndex_ = 0;
    }
    for (auto& other : otherButtonTitles) buttons_.push_back(std::move(other));
}

long UIAlertView::addButtonWithTitle(const std::string& title) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    buttons_.push_back(title);
    return static_cast<long>(buttons_.size()) - 1;
}

std::optional<std::string> UIAlertView::buttonTitleAtIndex(long index) const {
    if (index < 0 || index >= numberOfButtons()) return std::nullopt;
    return buttons_[static_cast<std::size_t>(index)];
}

long UIAlertView::firstOtherButtonIndex() const {
    for (long i = 0; i < numberOfButtons(); ++i) {
        if (i != cancelButtonIndex_) return i;
    }
    return -1;
}

void UIAlertView::setAlertViewStyle(UIAlertViewStyle style) {
    NS_ASSERT_MAIN_THREAD();
    style_ = style;
    textFields_.clear();
    const int count = style == UIAlertViewStyleDefault                 ? 0
                      : style == UIAlertViewStyleLoginAndPasswordInput ? 2
                                                                       : 1;
    for (int i = 0; i < count; ++i) {
        auto field = make<UITextField>(CGRectMake(16, 60 + 30 * i, 238, 24));
        const bool secure = style == UIAlertViewStyleSecureTextInput || (count == 2 && i == 1);
        field->setSecureTextEntry(secure);
        addSubview(field);
        textFields_.push_back(field);
    }
}

Ref<UITextField> UIAlertView::textFieldAtIndex(long index) const {
    if (index < 0 || index >= static_cast<long>(textFields_.size())) return nullptr;
    return textFields_[static_cast<std::size_t>(index)];
}

void UIAlertView::show() {
    NS_ASSERT_MAIN_THREAD();
    if (visible_) return;
    auto me = std::static_pointer_cast<UIAlertView>(shared_from_this());
    if (auto d = delegate()) d->willPresentAlertView(me);
    visible_ = true;
    UIAlertTestDriver::alertDidShow(me);
    if (auto d = delegate()) d->didPresentAlertView(me);
}

void UIAlertView::dismissWithClickedButtonIndex(long buttonIndex, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!visible_) return;
    auto me = std::static_pointer_cast<UIAlertView>(shared_from_this());
    if (auto d = delegate()) d->alertViewWillDismissWithButtonIndex(me, buttonIndex);
    finishDismissal(buttonIndex);
}

void UIAlertView::finishDismissal(long buttonIndex) {
    auto me = std::static_pointer_cast<UIAlertView>(shared_from_this());
    visible_ = false;
    UIAlertTestDriver::alertDidHide(this);
    dispatch_async(dispatch_get_main_queue(), [me, buttonIndex] {
        if (auto d = me->delegate()) d->alertViewDidDismissWithButtonIndex(me, buttonIndex);
    });
}

bool UIAlertView::pressButtonAtIndex(long index) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!visible_ || index < 0 || index >= numberOfButtons()) return false;
    auto me = std::static_pointer_cast<UIAlertView>(shared_from_this());
    if (auto d = delegate()) d->alertViewClickedButtonAtIndex(me, index);
    if (!visible_) return true;  // the delegate closed it already
    if (auto d = delegate()) d->alertViewWillDismissWithButtonIndex(me, index);
    finishDismissal(index);
    return true;
}

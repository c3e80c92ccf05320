#include "uikit/UIActionSheet.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIAlertTestDriver.h"

UIActionSheet::UIActionSheet() : UIView(CGRectMake(0, 0, 320, 200)) {}

UIActionSheet::UIActionSheet(std::optional<std::string> title, const Ref<UIActionSheetDelegate>& delegate,
                             std::optional<std::string> cancelButtonTitle,
                             std::optional<std::string> destructiveButtonTitle,
                             std::vector<std::string> otherButtonTitles)
    : UIActionSheet() {
    title_ = std::move(title);
    delegate_ = delegate;
    if (destructiveButtonTitle) {
        buttons_.push_back(*destructiveButtonTitle);
        destructiveButtonIndex_ = 0;
    }
    for (auto& other : otherButtonTitles) buttons_.push_back(std::move(other));
    if (cancelButtonTitle) {
        buttons_.push_back(*cancelButtonTitle);
        cancelButtonIndex_ = static_cast<long>(buttons_.size()) - 1;
    }
}

long UIActionSheet::addButtonWithTitle(const std::string& title) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    buttons_.push_back(title);
    return static_cast<long>(buttons_.size()) - 1;
}

std::optional<std::string> UIActionSheet::buttonTitleAtIndex(long index) const {
    if (index < 0 || index >= numberOfButtons()) return std::nullopt;
    return buttons_[static_cast<std::size_t>(index)];
}

long UIActionSheet::firstOtherButtonIndex() const {
    for (long i = 0; i < numberOfButtons(); ++i) {
        if (i != cancelButtonIndex_ && i != destructiveButtonIndex_) return i;
    }
    return -1;
}

void UIActionSheet::showInView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (visible_) return;
    auto me = std::static_pointer_cast<UIActionSheet>(shared_from_this());
    shownIn_ = view;
    if (auto d = delegate()) d->willPresentActionSheet(me);
    visible_ = true;
    UIAlertTestDriver::alertDidShow(me);
    if (auto d = delegate()) d->didPresentActionSheet(me);
}

void UIActionSheet::dismissWithClickedButtonIndex(long buttonIndex, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!visible_) return;
    auto me = std::static_pointer_cast<UIActionSheet>(shared_from_this());
    if (auto d = delegate()) d->actionSheetWillDismissWithButtonIndex(me, buttonIndex);
    finishDismissal(buttonIndex);
}

void UIActionSheet::finishDismissal(long buttonIndex) {
    auto me = std::static_pointer_cast<UIActionSheet>(shared_from_this());
    visible_ = false;
    UIAlertTestDriver::alertDidHide(this);
    dispatch_async(dispatch_get_main_queue(), [me, buttonIndex] {
        if (auto d = me->delegate()) d->actionSheetDidDismissWithButtonIndex(me, buttonIndex);
    });
}

bool UIActionSheet::pressButtonAtIndex(long index) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!visible_ || index < 0 || index >= numberOfButtons()) return false;
    auto me = std::static_pointer_cast<UIActionSheet>(shared_from_this());
    if (auto d = delegate()) d->actionSheetClickedButtonAtIndex(me, index);
    if (!visible_) return true;
    if (auto d = delegate()) d->actionSheetWillDismissWithButtonIndex(me, index);
    finishDismissal(index);
    return true;
}

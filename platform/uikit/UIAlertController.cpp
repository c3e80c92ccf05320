#include "uikit/UIAlertController.h"

#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UITextField.h"

Ref<UIAlertAction> UIAlertAction::actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style,
                                                  Handler handler) {
    return make<UIAlertAction>(std::move(title), style, std::move(handler));
}

UIAlertController::UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                                     UIAlertControllerStyle preferredStyle)
    : message_(std::move(message)), preferredStyle_(preferredStyle) {
    setTitle(title);
    setModalPresentationStyle(UIModalPresentationCustom);
}

Ref<UIAlertController> UIAlertController::alertControllerWithTitle(std::optional<std::string> title,
                                                                   std::optional<std::string> message,
                                                                   UIAlertControllerStyle preferredStyle) {
    return make<UIAlertController>(std::move(title), std::move(message), preferredStyle);
}

void UIAlertController::addAction(const Ref<UIAlertAction>& action) {
    NS_ASSERT_MAIN_THREAD();
    if (!action) return;
    if (action->style() == UIAlertActionStyleCancel) {
        for (auto& existing : actions_) {
            if (existing->style() == UIAlertActionStyleCancel) {
                NSLog("UIAlertController can only have one action with a style of UIAlertActionStyleCancel");
                return;
            }
        }
    }
    actions_.push_back(action);
}

void UIAlertController::addTextFieldWithConfigurationHandler(
    std::function<void(const Ref<UITextField>& textField)> handler) {
    NS_ASSERT_MAIN_THREAD();
    if (preferredStyle_ != UIAlertControllerStyleAlert) {
        NSLog("Text fields can only be added to an alert controller of style UIAlertControllerStyleAlert");
        return;
    }
    auto field = make<UITextField>(CGRectMake(0, 0, 238, 24));
    textFields_.push_back(field);
    if (handler) handler(field);
}

void UIAlertController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (showing_) return;
    showing_ = true;
    UIAlertTestDriver::alertDidShow(shared_from_this());
}

void UIAlertController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    if (!showing_) return;
    showing_ = false;
    UIAlertTestDriver::alertDidHide(this);
}

bool UIAlertController::pressActionAtIndex(long index) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!showing_ || isBeingDismissed() || index < 0 || index >= static_cast<long>(actions_.size()))
        return false;
    auto action = actions_[static_cast<std::size_t>(index)];
    if (!action->isEnabled()) return false;
    auto presenter = presentingViewController();
    if (!presenter) return false;
    showing_ = false;
    UIAlertTestDriver::alertDidHide(this);
    presenter->dismissViewControllerAnimated(false, [action] {
        if (action->handler()) action->handler()(action);
    });
    return true;
}

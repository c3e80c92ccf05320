#include "account/AccountScreen.h"

#include "uikit/UINavigationController.h"
#include "uikit/UISwipeGestureRecognizer.h"

void AccountScreen::touchesBegan(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    view()->endEditing(true);
}

void AccountScreen::leave() {
    if (auto navigation = navigationController()) {
        navigation->popViewControllerAnimated(true);
    } else {
        dismissViewControllerAnimated(true);
    }
}

void AccountScreen::popScreen() {
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

void AccountScreen::addBackSwipe(std::function<void()> action) {
    auto swipe = make<UISwipeGestureRecognizer>(self(), [action](const Ref<UIGestureRecognizer>&) {
        if (action) action();
    });
    swipe->setDirection(UISwipeGestureRecognizerDirectionRight);
    view()->addGestureRecognizer(swipe);
}

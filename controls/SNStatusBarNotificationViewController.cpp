#include "controls/SNStatusBarNotificationViewController.h"

#include <mutex>

#include "controls/UIApplication+mainWindow.h"
#include "foundation/NSBundle.h"

Ref<UIViewController> SNStatusBarNotificationViewController::mainController() const {
    Ref<UIWindow> ownWindow =
        isViewLoaded() ? const_cast<SNStatusBarNotificationViewController*>(this)->view()->window() : nullptr;
    auto mainWindow = UIApplication_mainWindow::mainApplicationWindowIgnoringWindow(
        UIApplication::sharedApplication(), ownWindow);
    if (!mainWindow) return nullptr;
    Ref<UIViewController> controller = mainWindow->rootViewController();
    while (controller && controller->presentedViewController())
        controller = controller->presentedViewController();
    return controller;
}

bool SNStatusBarNotificationViewController::shouldAutorotateToInterfaceOrientation(
    UIInterfaceOrientation orientation) const {
    auto main = mainController();
    return main && main->shouldAutorotateToInterfaceOrientation(orientation);
}

bool SNStatusBarNotificationViewController::shouldAutorotate() const {
    auto main = mainController();
    return main && main->shouldAutorotate();
}

UIInterfaceOrientationMask SNStatusBarNotificationViewController::supportedInterfaceOrientations() const {
    auto main = mainController();
    return main ? main->supportedInterfaceOrientations() : 0;
}

UIInterfaceOrientation
SNStatusBarNotificationViewController::preferredInterfaceOrientationForPresentation() const {
    auto main = mainController();
    return main ? main->preferredInterfaceOrientationForPresentation() : UIInterfaceOrientationUnknown;
}

bool SNStatusBarNotificationViewController::viewControllerBasedStatusBarAppearance() {
    static std::once_flag once;
    static bool based = false;
    std::call_once(once, [] {
        based = NSBundle::mainBundle()
                    ->objectForInfoDictionaryKey("UIViewControllerBasedStatusBarAppearance")
                    .boolValue();
    });
    return based;
}

UIStatusBarStyle SNStatusBarNotificationViewController::preferredStatusBarStyle() const {
    if (viewControllerBasedStatusBarAppearance()) {
        auto main = mainController();
        return main ? main->preferredStatusBarStyle() : UIStatusBarStyleDefault;
    }
    return UIApplication::sharedApplication()->statusBarStyle();
}

UIStatusBarAnimation SNStatusBarNotificationViewController::preferredStatusBarUpdateAnimation() const {
    if (viewControllerBasedStatusBarAppearance()) {
        auto main = mainController();
        return main ? main->preferredStatusBarUpdateAnimation() : UIStatusBarAnimationNone;
    }
    return UIViewController::preferredStatusBarUpdateAnimation();
}

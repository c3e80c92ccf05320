#pragma once
// Shared pieces of the screen tests of the app's areas: an application whose key window holds a
// navigation controller over a plain root (as the app's, which hides its bar: the screens draw
// their own), a wait that lets the manual clock move while the stand-in server answers on real
// time, what the HUDs and alerts show, and plain pictures. Header only: the programs that include it
// link the UI layers.

#include <functional>
#include <optional>
#include <string>

#include "controls/VHProgressHUD.h"
#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindow.h"

namespace testsupport {

// Waits on real time for the server while letting the manual clock move in small steps, for work
// the controls schedule on the platform clock (a refresh control runs its block after its
// animation).
inline bool waitAdvancing(ManualClock& clock, const std::function<bool()>& condition, double seconds = 10) {
    for (int step = 0; step < static_cast<int>(seconds / 0.02); ++step) {
        if (condition()) return true;
        clock.advance(0.01);
        if (pumpMainRunLoopUntil(condition, 0.01)) return true;
    }
    return condition();
}

// Lets chained main-queue work and short animations finish: the manual clock moves `steps` times
// by `step` seconds, the main run loop drained before each move and after the last.
inline void settleInSteps(ManualClock& clock, int steps = 20, double step = 0.05) {
    for (int i = 0; i < steps; ++i) {
        drainMainRunLoop();
        clock.advance(step);
    }
    drainMainRunLoop();
}

// The text of the topmost HUD showing over the view (nullopt when none shows).
inline std::optional<std::string> hudText(const Ref<UIView>& view) {
    for (auto it = view->subviews().rbegin(); it != view->subviews().rend(); ++it) {
        auto hud = std::dynamic_pointer_cast<VHProgressHUD>(*it);
        if (hud && !hud->isHidden() && hud->alpha() > 0) return hud->labelText();
    }
    return std::nullopt;
}

inline bool hudShowing(const Ref<VHProgressHUD>& hud) {
    return hud && hud->superview() && !hud->isHidden() && hud->alpha() > 0;
}

// The title and message of the frontmost alert (nullopt when none shows).
inline std::optional<std::string> alertTitle() {
    auto alert = UIAlertTestDriver::frontmostAlert();
    return alert ? alert->title : std::nullopt;
}
inline std::optional<std::string> alertMessage() {
    auto alert = UIAlertTestDriver::frontmostAlert();
    return alert ? alert->message : std::nullopt;
}

// An opaque picture of one colour, at scale 1.
inline Ref<UIImage> solidImage(CGSize size, CGFloat red, CGFloat green, CGFloat blue) {
    UIGraphicsBeginImageContextWithOptions(size, true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), red, green, blue, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, size.width, size.height));
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

// The application and its key window with a navigation controller, for a fixture to hold.
class NavigationWindow {
  protected:
    // Makes the shared application and shows the window, the navigation controller over `root`.
    void openWindow(bool barHidden = true) {
        application = make<UIApplication>();
        UIApplication::setSharedApplication(application);
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        root = make<UIViewController>();
        navigation = make<UINavigationController>(root);
        if (barHidden) navigation->setNavigationBarHidden(true, false);
        window->setRootViewController(navigation);
        window->makeKeyAndVisible();
    }
    // Dismisses what is presented, hides the window and lets the screens go, then the application.
    void closeWindow() {
        if (navigation && navigation->presentedViewController())
            navigation->dismissViewControllerAnimated(false);
        drainMainRunLoop();
        if (window) window->setHidden(true);
        navigation = nullptr;
        root = nullptr;
        window = nullptr;
        drainMainRunLoop();
        UIApplication::setSharedApplication(nullptr);
        application = nullptr;
    }

    Ref<UIApplication> application;
    Ref<UIWindow> window;
    Ref<UIViewController> root;
    Ref<UINavigationController> navigation;
};

}  // namespace testsupport

#include "uikit/UIWindow.h"

#include <algorithm>

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"

namespace {

// Live windows in creation order (a window takes itself out in its destructor). Never destroyed:
// a window still alive when the process exits leaves the list in its own destructor.
std::vector<UIWindow*>& registry() {
    static auto* windows = new std::vector<UIWindow*>();
    return *windows;
}
std::uint64_t gOrderSerial = 0;
UIWindow::RootViewControllerHook& rootHook() {
    static UIWindow::RootViewControllerHook hook;
    return hook;
}
UIWindow::EventDispatcher& windowDispatcher() {
    static UIWindow::EventDispatcher dispatcher;
    return dispatcher;
}

}  // namespace

UIWindow::UIWindow() : UIWindow(CGRectZero) {}

UIWindow::UIWindow(CGRect frame) : UIView(frame) {
    registerWindow();
}

void UIWindow::registerWindow() {
    registry().push_back(this);
    orderSerial_ = ++gOrderSerial;
    // A window starts hidden; its layer is made on first use and takes the flag then.
    initiallyHidden_ = true;
}

UIWindow::~UIWindow() {
    auto& windows = registry();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
}

std::vector<Ref<UIWindow>> UIWindow::allWindows() {
    std::vector<Ref<UIWindow>> result;
    for (UIWindow* window : registry()) {
        if (auto ref = std::static_pointer_cast<UIWindow>(window->weak_from_this().lock()))
            result.push_back(ref);
    }
    return result;
}

void UIWindow::setWindowLevel(UIWindowLevel level) {
    NS_ASSERT_MAIN_THREAD();
    windowLevel_ = level;
}

void UIWindow::setHidden(bool hidden) {
    const bool wasHidden = isHidden();
    UIView::setHidden(hidden);
    if (wasHidden == hidden) return;
    auto me = std::static_pointer_cast<UIWindow>(weak_from_this().lock());
    if (!hidden) {
        orderSerial_ = ++gOrderSerial;
        setNeedsLayout();
        NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidBecomeVisibleNotification, me);
    } else {
        if (isKeyWindow()) {
            auto app = UIApplication::sharedApplication();
            resignKeyWindow();
            app->setKeyWindowInternal(nullptr);
            NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidResignKeyNotification, me);
        }
        NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidBecomeHiddenNotification, me);
    }
}

void UIWindow::makeKeyAndVisible() {
    NS_ASSERT_MAIN_THREAD();
    makeKeyWindow();
    if (isHidden()) {
        setHidden(false);
    } else {
        orderSerial_ = ++gOrderSerial;
    }
}

void UIWindow::makeKeyWindow() {
    NS_ASSERT_MAIN_THREAD();
    auto app = UIApplication::sharedApplication();
    auto me = std::static_pointer_cast<UIWindow>(weak_from_this().lock());
    if (!me) return;
    auto old = app->keyWindow();
    if (old == me) return;
    if (old) {
        old->resignKeyWindow();
        NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidResignKeyNotification, old);
    }
    app->setKeyWindowInternal(me);
    becomeKeyWindow();
    NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidBecomeKeyNotification, me);
}

bool UIWindow::isKeyWindow() const {
    auto key = UIApplication::sharedApplication()->keyWindow();
    return key.get() == this;
}

Ref<UIScreen> UIWindow::screen() const {
    return screen_ ? screen_ : UIScreen::mainScreen();
}

void UIWindow::setRootViewController(const Ref<UIViewController>& controller) {
    NS_ASSERT_MAIN_THREAD();
    if (controller == rootViewController_) return;
    Ref<UIViewController> old = rootViewController_;
    rootViewController_ = controller;
    if (rootHook()) rootHook()(*this, old, controller);
}

void UIWindow::setRootViewControllerHook(RootViewControllerHook hook) {
    rootHook() = std::move(hook);
}

CGPoint UIWindow::convertPointToWindow(CGPoint point, const Ref<UIWindow>& window) const {
    if (!window) return CGPointApplyAffineTransform(point, layer()->transformToSuperlayer());
    return convertPointToView(point, window);
}

CGPoint UIWindow::convertPointFromWindow(CGPoint point, const Ref<UIWindow>& window) const {
    if (!window) {
        return CGPointApplyAffineTransform(point, CGAffineTransformInvert(layer()->transformToSuperlayer()));
    }
    return convertPointFromView(point, window);
}

CGRect UIWindow::convertRectToWindow(CGRect rect, const Ref<UIWindow>& window) const {
    if (!window) return CGRectApplyAffineTransform(rect, layer()->transformToSuperlayer());
    return convertRectToView(rect, window);
}

CGRect UIWindow::convertRectFromWindow(CGRect rect, const Ref<UIWindow>& window) const {
    if (!window)
        return CGRectApplyAffineTransform(rect, CGAffineTransformInvert(layer()->transformToSuperlayer()));
    return convertRectFromView(rect, window);
}

void UIWindow::sendEvent(const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (windowDispatcher()) windowDispatcher()(*this, event);
}

void UIWindow::setEventDispatcher(EventDispatcher dispatcher) {
    windowDispatcher() = std::move(dispatcher);
}

Ref<UIResponder> UIWindow::nextResponder() const {
    return UIApplication::sharedApplication();
}

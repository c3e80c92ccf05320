#pragma once
// Windows: the roots of view trees. Several exist at once; the application lists them back to
// front (UIApplication::windows()): by window level, then by the order in which they were shown.
// One is the key window. A window's frame is in screen coordinates; conversions between windows go
// through the screen.
//
// The root view controller: view controllers come with the controller layer, which installs a
// hook (setRootViewControllerHook) that puts the controller's view into the window. The window
// keeps the controller strongly.
//
// Event delivery (sendEvent) is done by the touch layer through setEventDispatcher.
//
// Windows belong to the main thread.

#include <cstdint>
#include <functional>

#include "uikit/UIView.h"

class UIScreen;
class UIViewController;

using UIWindowLevel = CGFloat;
inline constexpr UIWindowLevel UIWindowLevelNormal = 0;
inline constexpr UIWindowLevel UIWindowLevelAlert = 2000;
inline constexpr UIWindowLevel UIWindowLevelStatusBar = 1000;

inline constexpr char UIWindowDidBecomeVisibleNotification[] = "UIWindowDidBecomeVisibleNotification";
inline constexpr char UIWindowDidBecomeHiddenNotification[] = "UIWindowDidBecomeHiddenNotification";
inline constexpr char UIWindowDidBecomeKeyNotification[] = "UIWindowDidBecomeKeyNotification";
inline constexpr char UIWindowDidResignKeyNotification[] = "UIWindowDidResignKeyNotification";

class UIWindow : public UIView {
  public:
    // A window starts hidden. The default frame is zero, as with a plain init.
    UIWindow();
    explicit UIWindow(CGRect frame);
    ~UIWindow() override;
    std::string className() const override { return "UIWindow"; }

    UIWindowLevel windowLevel() const { return windowLevel_; }
    void setWindowLevel(UIWindowLevel level);

    // Shows the window in front of the others of its level and makes it the key window.
    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    virtual void becomeKeyWindow() {}
    virtual void resignKeyWindow() {}
    // Showing a window brings it to the front of its level.
    void setHidden(bool hidden) override;

    Ref<UIScreen> screen() const;
    void setScreen(const Ref<UIScreen>& screen) { screen_ = screen; }

    const Ref<UIViewController>& rootViewController() const { return rootViewController_; }
    void setRootViewController(const Ref<UIViewController>& controller);
    using RootViewControllerHook =
        std::function<void(UIWindow& window, const Ref<UIViewController>& oldController,
                           const Ref<UIViewController>& newController)>;
    static void setRootViewControllerHook(RootViewControllerHook hook);

    // Between this window's space and another window's (nullptr: the screen).
    CGPoint convertPointToWindow(CGPoint point, const Ref<UIWindow>& window) const;
    CGPoint convertPointFromWindow(CGPoint point, const Ref<UIWindow>& window) const;
    CGRect convertRectToWindow(CGRect rect, const Ref<UIWindow>& window) const;
    CGRect convertRectFromWindow(CGRect rect, const Ref<UIWindow>& window) const;

    // The window's first responder, nullptr when none.
    Ref<UIResponder> firstResponder() const { return firstResponder_.lock(); }

    // Delivers an event to the views (the touch layer's dispatcher).
    virtual void sendEvent(const Ref<UIEvent>& event);
    using EventDispatcher = std::function<void(UIWindow& window, const Ref<UIEvent>& event)>;
    static void setEventDispatcher(EventDispatcher dispatcher);

    Ref<UIResponder> nextResponder() const override;

    // ---- internal -----------------------------------------------------------------------------
    // Every live window, in creation order (UIApplication::windows() sorts them).
    static std::vector<Ref<UIWindow>> allWindows();
    std::uint64_t orderingSerial() const { return orderSerial_; }
    void setFirstResponderInternal(const Ref<UIResponder>& responder) { firstResponder_ = responder; }

  private:
    void registerWindow();

    UIWindowLevel windowLevel_ = UIWindowLevelNormal;
    Ref<UIScreen> screen_;
    Ref<UIViewController> rootViewController_;
    Weak<UIResponder> firstResponder_;
    std::uint64_t orderSerial_ = 0;
};

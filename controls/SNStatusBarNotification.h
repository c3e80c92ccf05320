#pragma once
// A one-line notification that covers the status bar: a short text in a named style, in a window
// of its own above the app's windows (touches pass through it), optionally with a thin progress
// bar and a small activity indicator, dismissed on request, after a delay, or by a timer.
//
//     SNStatusBarNotification::showWithStatus("Saved", 2.0, SNStatusBarStyleSuccess);
//     SNStatusBarNotification::showProgress(0.4);
//
// One shared instance does the work; the class operations drive it. A show restyles and retexts a
// bar already shown, and cancels a timed dismissal still pending from an earlier message (a later
// message is not ended early by the earlier one's timer). Dismissal releases the window, the bar
// and the progress view; the next show builds them anew.
//
// Names: the instance operations whose names the class operations already use carry "Bar":
// showBarWithStatus (-showWithStatus:styleName: and -showWithStatus:style:), addBarStyleNamed,
// dismissBarAnimated, showBarActivityIndicator and isBarVisible.
//
// Main thread only.

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "controls/SNStatusBarStyle.h"
#include "controls/SNStatusBarView.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSTimer.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIWindow.h"

class SNStatusBarNotification : public NSObject, public CAAnimationDelegate {
  public:
    // Receives a copy of a style and answers the style to keep.
    using PrepareBlock = std::function<Ref<SNStatusBarStyle>(const Ref<SNStatusBarStyle>& style)>;

    // init: the predefined styles; observes status-bar frame changes once made (didInit).
    SNStatusBarNotification();
    void didInit();
    ~SNStatusBarNotification() override;
    std::string className() const override { return "SNStatusBarNotification"; }

    // ---- class operations ---------------------------------------------------------------------
    static Ref<SNStatusBarNotification> sharedInstance();
    // Each answers the bar, or nullptr when nothing was shown (the status bar is hidden).
    static Ref<UIView> showWithStatus(const std::string& status);
    static Ref<UIView> showWithStatus(const std::string& status, const std::optional<std::string>& styleName);
    static Ref<UIView> showWithStatus(const std::string& status, double dismissAfter);
    static Ref<UIView> showWithStatus(const std::string& status, double dismissAfter,
                                      const std::optional<std::string>& styleName);
    static void dismiss();
    static void dismissAnimated(bool animated);
    static void dismissAfter(double seconds);
    static void setDefaultStyle(const PrepareBlock& prepare);
    static std::string addStyleNamed(const std::string& name, const PrepareBlock& prepare);
    static void showProgress(double progress);
    static void showActivityIndicator(bool show, UIActivityIndicatorViewStyle style);
    static bool isVisible();

    // ---- instance operations ------------------------------------------------------------------
    void setupDefaultStyles();
    std::string addBarStyleNamed(const std::string& name, const PrepareBlock& prepare);
    // A nil or unknown name shows in the default style.
    Ref<UIView> showBarWithStatus(const std::string& status, const std::optional<std::string>& styleName);
    Ref<UIView> showBarWithStatus(const std::string& status, const Ref<SNStatusBarStyle>& style);
    void setDismissTimerWithInterval(double interval);
    // The timer's action (the argument is ignored): an animated dismissal.
    void dismiss(const Ref<NSTimer>& timer);
    void dismissBarAnimated(bool animated);
    void animateInWithBounceAnimation();
    void animationDidStop(const Ref<CAAnimation>& animation, bool finished) override;
    // Clamped to 0...1; ignored while no bar exists.
    void setProgress(double progress);
    void showBarActivityIndicator(bool show, UIActivityIndicatorViewStyle style);
    // While the bar exists.
    bool isBarVisible() const { return topBar_ != nullptr; }
    void updateWindowTransform();
    void updateTopBarFrameWithStatusBarFrame(CGRect statusBarFrame);
    void willChangeStatusBarFrame(const Ref<NSNotification>& notification);

    // ---- properties ---------------------------------------------------------------------------
    // Made on first access.
    const Ref<UIWindow>& overlayWindow();
    const Ref<UIView>& progressView();
    const Ref<SNStatusBarView>& topBar();
    // Without making them.
    bool hasOverlayWindow() const { return overlayWindow_ != nullptr; }
    bool hasProgressView() const { return progressView_ != nullptr; }
    const Ref<NSTimer>& dismissTimer() const { return dismissTimer_; }
    void setDismissTimer(const Ref<NSTimer>& timer) { dismissTimer_ = timer; }
    double progress() const { return progress_; }
    // Held weakly.
    Ref<SNStatusBarStyle> activeStyle() const { return activeStyle_.lock(); }
    const Ref<SNStatusBarStyle>& defaultStyle() const { return defaultStyle_; }
    void setDefaultStyleObject(const Ref<SNStatusBarStyle>& style) { defaultStyle_ = style; }
    const std::map<std::string, Ref<SNStatusBarStyle>>& userStyles() const { return userStyles_; }

  private:
    friend struct ControlsTesting;  // releases the shared instance between tests

    void putBarInHiddenStateForStyle(const Ref<SNStatusBarStyle>& style);
    Ref<SNStatusBarStyle> styleInForce() const;

    Ref<UIWindow> overlayWindow_;
    Ref<UIView> progressView_;
    Ref<SNStatusBarView> topBar_;
    Ref<NSTimer> dismissTimer_;
    double progress_ = 0;
    Weak<SNStatusBarStyle> activeStyle_;
    Ref<SNStatusBarStyle> defaultStyle_;
    std::map<std::string, Ref<SNStatusBarStyle>> userStyles_;
};

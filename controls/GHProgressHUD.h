#pragma once
// The app's one global progress overlay: a rounded box a little above the middle of the frontmost
// normal window, with a spinner, a determinate ring or an info / success / error image, an
// optional status text below, and an optional full-screen mask that dims the screen and swallows
// touches. It is driven through class operations on one shared instance:
//
//     GHProgressHUD::showWithStatus("上传中...", GHProgressHUDMaskTypeGradient);
//     ...
//     GHProgressHUD::dismiss();
//
// Shown, it sits in the window as overlay (a screen-sized control) -> the HUD view (screen-sized,
// draws the mask) -> the box -> image view, label and spinner; the ring's two layers sit in the
// box's layer. Appearing and disappearing take 0.15 s on the platform clock, with notifications
// at both ends. Image showings dismiss themselves after a time that grows with the status length
// (a common-mode timer, so it also fires while the user scrolls).
//
// Names: the class operations keep their names. The instance operations whose names the class
// operations already use, and the class setter of the background colour (views have one of their
// own), carry "HUD" in their names: setHUDStatus (-setStatus:), showHUDProgress
// (-showProgress:status:maskType:), dismissHUD (-dismiss), setHUDOffsetFromCenter
// (-setOffsetFromCenter:) and setHUDBackgroundColor (+setBackgroundColor:).
//
// The keyboard height comes from the platform's keyboard notifications (followed from the first
// use of the HUD on), not from the keyboard's own views. Main thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controls/GHIndefiniteAnimatedView.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSTimer.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIImage.h"
#include "uikit/CAShapeLayer.h"
#include "uikit/UIControl.h"
#include "uikit/UIEvent.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

using GHProgressHUDMaskType = unsigned long;
// Touches reach the app below; only the box fades.
inline constexpr GHProgressHUDMaskType GHProgressHUDMaskTypeNone = 1;
// Touches are swallowed; only the box fades.
inline constexpr GHProgressHUDMaskType GHProgressHUDMaskTypeClear = 2;
// The screen is dimmed to 50 % black and fades with the box.
inline constexpr GHProgressHUDMaskType GHProgressHUDMaskTypeBlack = 3;
// A radial dimming, clear in the middle, 75 % black at the edges; fades with the box.
inline constexpr GHProgressHUDMaskType GHProgressHUDMaskTypeGradient = 4;

inline constexpr char GHProgressHUDDidReceiveTouchEventNotification[] =
    "GHProgressHUDDidReceiveTouchEventNotification";
inline constexpr char GHProgressHUDDidTouchDownInsideNotification[] =
    "GHProgressHUDDidTouchDownInsideNotification";
inline constexpr char GHProgressHUDWillDisappearNotification[] = "GHProgressHUDWillDisappearNotification";
inline constexpr char GHProgressHUDDidDisappearNotification[] = "GHProgressHUDDidDisappearNotification";
inline constexpr char GHProgressHUDWillAppearNotification[] = "GHProgressHUDWillAppearNotification";
inline constexpr char GHProgressHUDDidAppearNotification[] = "GHProgressHUDDidAppearNotification";
inline constexpr char GHProgressHUDStatusUserInfoKey[] = "GHProgressHUDStatusUserInfoKey";

class GHProgressHUD : public UIView {
  public:
    using Status = std::optional<std::string>;

    // initWithFrame: user interaction off, clear, transparent; puts the class-wide settings to
    // their defaults.
    explicit GHProgressHUD(CGRect frame);
    ~GHProgressHUD() override;
    std::string className() const override { return "GHProgressHUD"; }

    // ---- class operations ---------------------------------------------------------------------
    // The shared instance, made once with the main screen's bounds.
    static Ref<GHProgressHUD> sharedView();
    static void setStatus(const Status& status);
    // Applied at once to the current box, and to every new one.
    static void setHUDBackgroundColor(const Ref<UIColor>& color);
    static void setForegroundColor(const Ref<UIColor>& color);
    static void setFont(const Ref<UIFont>& font);
    static void setRingThickness(CGFloat width);
    static void setInfoImage(const Ref<UIImage>& image);
    static void setSuccessImage(const Ref<UIImage>& image);
    static void setErrorImage(const Ref<UIImage>& image);
    static void setDefaultMaskType(GHProgressHUDMaskType maskType);
    // Kept; nothing reads it.
    static void setViewForExtension(const Ref<UIView>& view);
    static Ref<UIView> viewForExtension();

    static void show();
    static void showWithMaskType(GHProgressHUDMaskType maskType);
    static void showWithStatus(const Status& status);
    static void showWithStatus(const Status& status, GHProgressHUDMaskType maskType);
    static void showProgress(float progress);
    static void showProgress(float progress, GHProgressHUDMaskType maskType);
    static void showProgress(float progress, const Status& status);
    static void showProgress(float progress, const Status& status, GHProgressHUDMaskType maskType);
    static void showInfoWithStatus(const Status& status);
    static void showInfoWithStatus(const Status& status, GHProgressHUDMaskType maskType);
    static void showSuccessWithStatus(const Status& status);
    static void showSuccessWithStatus(const Status& status, GHProgressHUDMaskType maskType);
    static void showErrorWithStatus(const Status& status);
    static void showErrorWithStatus(const Status& status, GHProgressHUDMaskType maskType);
    static void showImage(const Ref<UIImage>& image, const Status& status);
    static void showImage(const Ref<UIImage>& image, const Status& status, GHProgressHUDMaskType maskType);
    // Lowers the count of showings; at 0 the HUD is dismissed (visible or not).
    static void popActivity();
    // Dismisses when visible; nothing otherwise.
    static void dismiss();
    // Moves the box at its next placement.
    static void setOffsetFromCenter(UIOffset offset);
    static void resetOffsetFromCenter();
    // The shared instance's own opacity is 1.
    static bool isVisible();

    // ---- instance operations ------------------------------------------------------------------
    void drawRect(CGRect rect) override;
    // Lays out the box and its contents for the current text, image and progress.
    void updatePosition();
    // -setStatus:
    void setHUDStatus(const Status& status);
    const Ref<NSTimer>& fadeOutTimer() const { return fadeOutTimer_; }
    // Invalidates the current timer before keeping the new one (nullptr allowed).
    void setFadeOutTimer(const Ref<NSTimer>& timer);
    void registerNotifications();
    // {GHProgressHUDStatusUserInfoKey: label text}, or none without a text.
    std::optional<Dictionary> notificationUserInfo();
    // Places (and turns) the box; the notification is a keyboard or orientation one, or null.
    void positionHUD(const Ref<NSNotification>& notification);
    void moveToPoint(CGPoint point, CGFloat rotateAngle);
    void overlayViewDidReceiveTouchEvent(const Ref<NSObject>& sender, const Ref<UIEvent>& event);
    // -showProgress:status:maskType: (progress -1: the spinner; 0 to 1: the ring).
    void showHUDProgress(float progress, const Status& status, GHProgressHUDMaskType maskType);
    // The image with every non-transparent pixel in the colour.
    Ref<UIImage> imageWithTintColor(const Ref<UIImage>& image, const Ref<UIColor>& color);
    // -showImage:status:duration:maskType:
    void showImage(const Ref<UIImage>& image, const Status& status, double duration,
                   GHProgressHUDMaskType maskType);
    // -dismiss: fades out and tears down (unless a showing started meanwhile).
    void dismissHUD();

    // Lazy parts.
    const Ref<GHIndefiniteAnimatedView>& indefiniteAnimatedView();
    const Ref<CAShapeLayer>& ringLayer();
    const Ref<CAShapeLayer>& backgroundRingLayer();
    const Ref<UIControl>& overlayView();
    // Re-added to the HUD view on every read when it has no parent.
    const Ref<UIView>& hudView();
    // Re-added to the box and restyled (foreground colour, font) on every read.
    const Ref<UILabel>& stringLabel();
    const Ref<UIImageView>& imageView();
    void cancelRingLayerAnimation();
    Ref<CAShapeLayer> createRingLayerWithCenter(CGPoint center, CGFloat radius, CGFloat lineWidth,
                                                const Ref<UIColor>& color);
    // min(0.06 s per UTF-16 unit + 0.5 s, 5 s).
    double displayDurationForString(const Status& string) const;
    bool isClear() const;
    CGFloat visibleKeyboardHeight() const;

    // ---- plain accessors ----------------------------------------------------------------------
    GHProgressHUDMaskType maskType() const { return maskType_; }
    void setMaskType(GHProgressHUDMaskType maskType) { maskType_ = maskType; }
    void setOverlayView(const Ref<UIControl>& view) { overlayView_ = view; }
    void setHudView(const Ref<UIView>& view) { hudView_ = view; }
    void setStringLabel(const Ref<UILabel>& label) { stringLabel_ = label; }
    void setImageView(const Ref<UIImageView>& view) { imageView_ = view; }
    void setIndefiniteAnimatedView(const Ref<GHIndefiniteAnimatedView>& view) {
        indefiniteAnimatedView_ = view;
    }
    double progress() const { return progress_; }
    void setProgress(double progress) { progress_ = progress; }
    unsigned long activityCount() const { return activityCount_; }
    void setActivityCount(unsigned long count) { activityCount_ = count; }
    void setBackgroundRingLayer(const Ref<CAShapeLayer>& layer) { backgroundRingLayer_ = layer; }
    void setRingLayer(const Ref<CAShapeLayer>& layer) { ringLayer_ = layer; }
    UIOffset offsetFromCenter() const { return offsetFromCenter_; }
    // -setOffsetFromCenter:
    void setHUDOffsetFromCenter(UIOffset offset) { offsetFromCenter_ = offset; }
    // The parts as they are now, without making them.
    bool hasHudView() const { return hudView_ != nullptr; }
    bool hasOverlayView() const { return overlayView_ != nullptr; }
    bool hasIndefiniteAnimatedView() const { return indefiniteAnimatedView_ != nullptr; }
    bool hasRingLayers() const { return ringLayer_ != nullptr || backgroundRingLayer_ != nullptr; }

  private:
    friend struct ControlsTesting;  // tears the shared instance down between tests

    void postNotification(const char* name, const std::optional<Dictionary>& userInfo);
    void applyAccessibilityAndInteraction(const Status& status);

    GHProgressHUDMaskType maskType_ = 0;
    Ref<NSTimer> fadeOutTimer_;
    Ref<UIControl> overlayView_;
    Ref<UIView> hudView_;
    Ref<UILabel> stringLabel_;
    Ref<UIImageView> imageView_;
    Ref<GHIndefiniteAnimatedView> indefiniteAnimatedView_;
    double progress_ = 0;
    unsigned long activityCount_ = 0;
    Ref<CAShapeLayer> backgroundRingLayer_;
    Ref<CAShapeLayer> ringLayer_;
    UIOffset offsetFromCenter_{};
    // Set when a test lets go of the instance: late animation ends then do nothing.
    bool retired_ = false;
};

namespace detail {
// The platform keeps no accessibility notifications here, so the HUD records what it would post,
// in order: "screen-changed", and "announcement:<text>" ("announcement:(null)" without a text).
std::vector<std::string> ghAccessibilityPosts();
void ghClearAccessibilityPosts();
}  // namespace detail

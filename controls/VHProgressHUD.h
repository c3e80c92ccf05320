#pragma once
// A view laid over one of a screen's views (or a window) that shows a rounded translucent box in
// the middle with an activity or progress indicator and up to two texts. It covers the whole host
// view, can dim it with a radial gradient, and shows and hides itself with a fade or zoom of
// 0.30 s. Showing can wait for a grace time, hiding can be held until a minimum show time has
// passed, and a hide can be scheduled after a delay. Screens mostly use it as a transient message:
//
//     auto hud = VHProgressHUD::showHUDAddedTo(view, true);
//     hud->setMode(VHProgressHUDModeText);
//     hud->setLabelText("保存成功");
//     hud->hide(true, 1.0);
//
// Properties are atomic: task code may set the progress, the texts and the other observed
// properties from any thread; the HUD observes its own properties and applies a change made on
// another thread on the main thread, asynchronously. Everything else (showing, hiding, layout,
// drawing) belongs to the main thread. Grace and minimum-show timers and delayed hides run in the
// default run-loop mode of the thread that asked (the main one), so they wait while a scroll view
// is dragged.
//
// Showing cancels a hide still held back for the minimum show time of an earlier showing (it
// restarts that clock), and hiding cancels a pending grace time, so a HUD hidden before its grace
// time ran out never appears afterwards.
//
// Ownership: the host view holds the HUD as a subview; the HUD holds its labels, indicator, timers,
// fonts and colours and its delegate weakly; pending timers and delayed hides hold the HUD.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSDate.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSTimer.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class VHProgressHUD;

// Display modes.
using VHProgressHUDMode = long;
// The platform's large white spinner.
inline constexpr VHProgressHUDMode VHProgressHUDModeSpinner = 0;
// A round (pie) progress indicator.
inline constexpr VHProgressHUDMode VHProgressHUDModeRound = 1;
// A horizontal bar.
inline constexpr VHProgressHUDMode VHProgressHUDModeBar = 2;
// A ring.
inline constexpr VHProgressHUDMode VHProgressHUDModeRing = 3;
// The caller's customView.
inline constexpr VHProgressHUDMode VHProgressHUDModeCustomView = 4;
// Texts only.
inline constexpr VHProgressHUDMode VHProgressHUDModeText = 5;

// Show and hide animations, 0.30 s each.
using VHProgressHUDAnimation = long;
// Alpha only.
inline constexpr VHProgressHUDAnimation VHProgressHUDAnimationFade = 0;
// Shows from 1.5 times its size down to 1; hides down to half its size.
inline constexpr VHProgressHUDAnimation VHProgressHUDAnimationShrink = 1;
// Shows from half its size up to 1; hides up to 1.5 times its size.
inline constexpr VHProgressHUDAnimation VHProgressHUDAnimationGrow = 2;

// Told when a hide completes. Optional.
class VHProgressHUDDelegate {
  public:
    virtual ~VHProgressHUDDelegate() = default;
    virtual void hudWasHidden(const Ref<VHProgressHUD>& hud) {}
    virtual bool implementsHudWasHidden() const { return false; }
};

class VHProgressHUD : public UIView {
  public:
    using Block = std::function<void()>;
    // The task of the selector variant: the target and the object it was given.
    using TargetTask = std::function<void(const Ref<NSObject>& target, const Value& object)>;

    // initWithFrame:
    explicit VHProgressHUD(CGRect frame);
    // initWithView: / initWithWindow: — the view's bounds as frame; the caller adds the HUD.
    explicit VHProgressHUD(const Ref<UIView>& view);
    // Observes its own properties and the status-bar orientation.
    void didInit();
    ~VHProgressHUD() override;
    std::string className() const override { return "VHProgressHUD"; }

    // ---- class operations ---------------------------------------------------------------------
    // A new HUD over the view (removed from it when hidden), added as its last subview and shown.
    static Ref<VHProgressHUD> showHUDAddedTo(const Ref<UIView>& view, bool animated);
    // Hides the view's topmost HUD (removing it when hidden); false when there is none.
    static bool hideHUDForView(const Ref<UIView>& view, bool animated);
    // Hides (and removes) every HUD of the view; answers how many there were.
    static unsigned long hideAllHUDsForView(const Ref<UIView>& view, bool animated);
    // The topmost HUD among the view's subviews; nullptr when none.
    static Ref<VHProgressHUD> HUDForView(const Ref<UIView>& view);
    // Every HUD among the view's subviews, in subview order.
    static std::vector<Ref<VHProgressHUD>> allHUDsForView(const Ref<UIView>& view);

    // ---- showing and hiding -------------------------------------------------------------------
    void show(bool animated);
    void hide(bool animated);
    // hide:afterDelay: — a delayed perform in the default mode; a show cancels it.
    void hide(bool animated, double delay);

    // The selector variant: runs the task with the target and object on a new detached thread,
    // then cleans up on the main thread.
    void showWhileExecuting(TargetTask task, const Ref<NSObject>& target, const Value& object, bool animated);
    // The block variants: the task on the queue (the default-priority global queue when none is
    // given), the clean-up and the completion on the main thread.
    void showAnimated(bool animated, Block task);
    void showAnimated(bool animated, Block task, Block completion);
    void showAnimated(bool animated, Block task, dispatch_queue_t queue);
    void showAnimated(bool animated, Block task, dispatch_queue_t queue, Block completion);

    // ---- UIView -------------------------------------------------------------------------------
    void didMoveToSuperview() override;
    void layoutSubviews() override;
    void drawRect(CGRect rect) override;
    Value valueForKey(const std::string& key) const override;

    // ---- internal operations, kept reachable for tests ----------------------------------------
    void hideDelayed(bool animated);
    void handleGraceTimer(const Ref<NSTimer>& timer);
    void handleMinShowTimer(const Ref<NSTimer>& timer);
    void updateIndicators();
    void updateUIForKeypath(const std::string& keyPath);
    // The observed key paths, in order.
    static const std::vector<std::string>& observableKeypaths();
    void updateForCurrentOrientationAnimated(bool animated);

    // ---- properties (atomic) ------------------------------------------------------------------
    Ref<UIView> indicator() const;
    Ref<NSTimer> graceTimer() const;
    Ref<NSTimer> minShowTimer() const;
    std::optional<NSDate> showStarted() const;
    Block completionBlock() const;
    void setCompletionBlock(Block block);
    VHProgressHUDMode mode() const;
    void setMode(VHProgressHUDMode mode);
    VHProgressHUDAnimation animationType() const;
    void setAnimationType(VHProgressHUDAnimation type);
    Ref<UIView> customView() const;
    void setCustomView(const Ref<UIView>& view);
    Ref<VHProgressHUDDelegate> delegate() const;
    void setDelegate(const Ref<VHProgressHUDDelegate>& delegate);
    std::optional<std::string> labelText() const;
    void setLabelText(const std::optional<std::string>& text);
    std::optional<std::string> detailsLabelText() const;
    void setDetailsLabelText(const std::optional<std::string>& text);
    float opacity() const;
    void setOpacity(float opacity);
    Ref<UIColor> color() const;
    void setColor(const Ref<UIColor>& color);
    float xOffset() const;
    void setXOffset(float offset);
    float yOffset() const;
    void setYOffset(float offset);
    float margin() const;
    void setMargin(float margin);
    float cornerRadius() const;
    void setCornerRadius(float radius);
    bool dimBackground() const;
    void setDimBackground(bool dim);
    float graceTime() const;
    void setGraceTime(float seconds);
    float minShowTime() const;
    void setMinShowTime(float seconds);
    bool taskInProgress() const;
    void setTaskInProgress(bool inProgress);
    bool removeFromSuperViewOnHide() const;
    void setRemoveFromSuperViewOnHide(bool remove);
    Ref<UIFont> labelFont() const;
    void setLabelFont(const Ref<UIFont>& font);
    Ref<UIColor> labelColor() const;
    void setLabelColor(const Ref<UIColor>& color);
    Ref<UIFont> detailsLabelFont() const;
    void setDetailsLabelFont(const Ref<UIFont>& font);
    Ref<UIColor> detailsLabelColor() const;
    void setDetailsLabelColor(const Ref<UIColor>& color);
    Ref<UIColor> activityIndicatorColor() const;
    void setActivityIndicatorColor(const Ref<UIColor>& color);
    float progress() const;
    void setProgress(float progress);
    CGSize minSize() const;
    void setMinSize(CGSize size);
    // The box size of the last layout pass.
    CGSize size() const;
    bool isSquare() const;
    void setSquare(bool square);

    // The animated flag of the last show or hide.
    bool useAnimation() const { return useAnimation_; }
    const Ref<UILabel>& label() const { return label_; }
    const Ref<UILabel>& detailsLabel() const { return detailsLabel_; }
    CGAffineTransform rotationTransform() const { return rotationTransform_; }

  private:
    void showUsingAnimation(bool animated);
    void hideUsingAnimation(bool animated);
    void done();
    void launchExecution();
    void cleanUp();
    void setupLabels();
    void registerForKVO();
    void unregisterFromKVO();
    void registerForNotifications();
    void unregisterFromNotifications();
    void statusBarOrientationDidChange(const Ref<NSNotification>& notification);
    template <class T, class V>
    void setObserved(const char* key, T& field, V&& value);
    template <class T, class V>
    void setPlain(T& field, V&& value);

    mutable std::mutex lock_;  // guards the properties below (the platform's atomic accessors)
    Ref<UIView> indicator_;
    Ref<NSTimer> graceTimer_;
    Ref<NSTimer> minShowTimer_;
    std::optional<NSDate> showStarted_;
    Block completionBlock_;
    VHProgressHUDMode mode_ = VHProgressHUDModeSpinner;
    VHProgressHUDAnimation animationType_ = VHProgressHUDAnimationFade;
    Ref<UIView> customView_;
    Weak<VHProgressHUDDelegate> delegate_;
    std::optional<std::string> labelText_;
    std::optional<std::string> detailsLabelText_;
    float opacity_ = 0.8f;
    Ref<UIColor> color_;
    float xOffset_ = 0;
    float yOffset_ = 0;
    float margin_ = 20;
    float cornerRadius_ = 10;
    bool dimBackground_ = false;
    float graceTime_ = 0;
    float minShowTime_ = 0;
    bool taskInProgress_ = false;
    bool removeFromSuperViewOnHide_ = false;
    Ref<UIFont> labelFont_;
    Ref<UIColor> labelColor_;
    Ref<UIFont> detailsLabelFont_;
    Ref<UIColor> detailsLabelColor_;
    Ref<UIColor> activityIndicatorColor_;
    float progress_ = 0;
    CGSize minSize_{};
    CGSize size_{};
    bool square_ = false;

    // Main-thread state.
    bool useAnimation_ = false;
    TargetTask methodForExecution_;
    Ref<NSObject> targetForExecution_;
    Value objectForExecution_;
    Ref<UILabel> label_;
    Ref<UILabel> detailsLabel_;
    CGAffineTransform rotationTransform_ = CGAffineTransformIdentity;
    std::vector<std::uint64_t> observations_;
};

#pragma once
// Views: rectangles of the screen with geometry, appearance, a place in a hierarchy, layout,
// drawing and hit testing. They run headless with their full state; a window renders to pixels
// through its layers (CALayer::renderInContext, UIWindowRenderer).
//
// Geometry lives in the view's layer (layer()): frame, bounds, center and transform are the
// layer's frame, bounds, position and affine transform, so code that moves the layer moves the
// view. The frame is the bounding box of the transformed bounds. Setting the frame of a transformed
// view follows CALayer::setFrame (identity: centre and size; pure scale: size divided by the scale;
// rotation: only the centre moves).
//
// Layer class: makeLayer() is the "layerClass" factory. The layer is made on first use, so a
// subclass that overrides makeLayer() must not touch geometry in its own base-class constructors;
// UIView's constructors do not.
//
// Hierarchy: a view owns its subviews (strongly); the superview pointer is plain and is cleared
// when the superview goes. Hooks (willMoveToSuperview, didMoveToWindow...) are virtual and run in
// the platform's order. Subviews are in back-to-front order; the layer tree mirrors them.
//
// The layout and display cycle: at the end of every turn of the main run loop, views in a window
// that need layout are laid out top-down (updateConstraints, the layout-engine hooks, then
// layoutSubviews), then views in a window that need display get drawRect: with a graphics
// context of their bounds at the view's contentScaleFactor; the picture becomes the layer's
// contents. Views outside a window are never laid out or drawn by the cycle (layoutIfNeeded still
// lays them out). When the bounds size changes, the subviews are resized by their autoresizing
// masks (when autoresizesSubviews) and the view is marked as needing layout.
//
// Animations (UIView::animateWithDuration and relatives, in UIViewAnimation.cpp): the model
// values change at once; each animated property puts a CABasicAnimation on the view's layer
// ("position", "bounds", "transform", "opacity", "backgroundColor"), and the completion runs with
// finished = true after delay + duration on the platform clock, or finished = false when one of
// its layer animations was removed first (removeAllAnimations, or a new animation of the same
// property). A zero duration completes on the next turn of the main loop, never inline.
//
// Views belong to the main thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "graphics/CGContext.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIColor.h"
#include "uikit/CALayer.h"
#include "uikit/UIResponder.h"
#include "uikit/UIViewAnimation.h"

class NSLayoutConstraint;
class UIGestureRecognizer;
class UIWindow;
namespace detail {
struct UIViewAccess;
}

enum UIViewContentMode : long {
    UIViewContentModeScaleToFill = 0,
    UIViewContentModeScaleAspectFit = 1,
    UIViewContentModeScaleAspectFill = 2,
    UIViewContentModeRedraw = 3,
    UIViewContentModeCenter = 4,
    UIViewContentModeTop = 5,
    UIViewContentModeBottom = 6,
    UIViewContentModeLeft = 7,
    UIViewContentModeRight = 8,
    UIViewContentModeTopLeft = 9,
    UIViewContentModeTopRight = 10,
    UIViewContentModeBottomLeft = 11,
    UIViewContentModeBottomRight = 12,
};

using UIViewAutoresizing = unsigned long;
inline constexpr UIViewAutoresizing UIViewAutoresizingNone = 0;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleLeftMargin = 1u << 0;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleWidth = 1u << 1;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleRightMargin = 1u << 2;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleTopMargin = 1u << 3;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleHeight = 1u << 4;
inline constexpr UIViewAutoresizing UIViewAutoresizingFlexibleBottomMargin = 1u << 5;

enum UIViewTintAdjustmentMode : long {
    UIViewTintAdjustmentModeAutomatic = 0,
    UIViewTintAdjustmentModeNormal = 1,
    UIViewTintAdjustmentModeDimmed = 2,
};

enum UILayoutConstraintAxis : long {
    UILayoutConstraintAxisHorizontal = 0,
    UILayoutConstraintAxisVertical = 1,
};
using UILayoutPriority = float;
inline constexpr UILayoutPriority UILayoutPriorityRequired = 1000;
inline constexpr UILayoutPriority UILayoutPriorityDefaultHigh = 750;
inline constexpr UILayoutPriority UILayoutPriorityDefaultLow = 250;
inline constexpr UILayoutPriority UILayoutPriorityFittingSizeLevel = 50;
// An intrinsic size component that the view does not have.
inline constexpr CGFloat UIViewNoIntrinsicMetric = -1;
inline constexpr CGSize UILayoutFittingCompressedSize{0, 0};
inline constexpr CGSize UILayoutFittingExpandedSize{10000, 10000};

using UIAccessibilityTraits = std::uint64_t;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitNone = 0;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitButton = 1u << 0;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitLink = 1u << 1;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitImage = 1u << 2;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitSelected = 1u << 3;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitStaticText = 1u << 6;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitHeader = 1u << 16;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitNotEnabled = 1u << 8;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitUpdatesFrequently = 1u << 9;

class UIView : public UIResponder {
  public:
    // initWithFrame: (init is a zero frame).
    UIView();
    explicit UIView(CGRect frame);
    ~UIView() override;
    std::string className() const override { return "UIView"; }
    std::string description() const override;

    // ---- layer --------------------------------------------------------------------------------
    const Ref<CALayer>& layer() const;
    // The layerClass factory: subclasses answer their own kind of layer.
    virtual Ref<CALayer> makeLayer() const { return make<CALayer>(); }

    // ---- geometry -----------------------------------------------------------------------------
    CGRect frame() const;
    virtual void setFrame(CGRect frame);
    CGRect bounds() const;
    virtual void setBounds(CGRect bounds);
    CGPoint center() const;
    virtual void setCenter(CGPoint center);
    CGAffineTransform transform() const;
    virtual void setTransform(CGAffineTransform transform);
    // The screen's scale until set.
    CGFloat contentScaleFactor() const;
    void setContentScaleFactor(CGFloat scale);

    // ---- appearance ---------------------------------------------------------------------------
    CGFloat alpha() const;
    virtual void setAlpha(CGFloat alpha);
    bool isHidden() const;
    virtual void setHidden(bool hidden);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque);
    const Ref<UIColor>& backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(const Ref<UIColor>& color);
    bool clipsToBounds() const;
    void setClipsToBounds(bool clips);
    UIViewContentMode contentMode() const { return contentMode_; }
    virtual void setContentMode(UIViewContentMode mode);
    // The view's own tint colour, else its superview's, else the system blue.
    Ref<UIColor> tintColor() const;
    void setTintColor(const Ref<UIColor>& color);
    UIViewTintAdjustmentMode tintAdjustmentMode() const { return tintAdjustmentMode_; }
    void setTintAdjustmentMode(UIViewTintAdjustmentMode mode) { tintAdjustmentMode_ = mode; }
    // Called when the inherited tint colour changes (set here or on an ancestor).
    virtual void tintColorDidChange() {}
    long tag() const { return tag_; }
    void setTag(long tag) { tag_ = tag; }
    // This view if its tag matches, else the first match in a depth-first search of the subviews.
    Ref<UIView> viewWithTag(long tag);
    bool clearsContextBeforeDrawing() const { return clearsContextBeforeDrawing_; }
    void setClearsContextBeforeDrawing(bool clears) { clearsContextBeforeDrawing_ = clears; }

    // ---- hierarchy ----------------------------------------------------------------------------
    Ref<UIView> superview() const;
    UIView* superviewPointer() const { return superview_; }
    const std::vector<Ref<UIView>>& subviews() const { return subviews_; }
    // The window the view is in (itself for a window), nullptr when none.
    Ref<UIWindow> window() const;
    UIWindow* windowPointer() const;
    // Each moves the view from its old superview first. Adding a view to itself or to one of its
    // own subviews is refused.
    void addSubview(const Ref<UIView>& view);
    void insertSubviewAtIndex(const Ref<UIView>& view, std::size_t index);
    void insertSubviewBelow(const Ref<UIView>& view, const Ref<UIView>& sibling);
    void insertSubviewAbove(const Ref<UIView>& view, const Ref<UIView>& sibling);
    void removeFromSuperview();
    void bringSubviewToFront(const Ref<UIView>& view);
    void sendSubviewToBack(const Ref<UIView>& view);
    void exchangeSubviewAtIndex(std::size_t index1, std::size_t index2);
    // True for the view itself too.
    bool isDescendantOfView(const Ref<UIView>& view) const;
    bool isDescendantOfView(const UIView* view) const;

    // Hooks, in the platform's order: willMoveToSuperview, willMoveToWindow, (the move),
    // didMoveToWindow, didMoveToSuperview; the superview hears didAddSubview after and
    // willRemoveSubview before. The window hooks run for every view of the moved tree.
    virtual void willMoveToSuperview(const Ref<UIView>& newSuperview) {}
    virtual void didMoveToSuperview() {}
    virtual void willMoveToWindow(const Ref<UIWindow>& newWindow) {}
    virtual void didMoveToWindow() {}
    virtual void didAddSubview(const Ref<UIView>& subview) {}
    virtual void willRemoveSubview(const Ref<UIView>& subview) {}

    // ---- layout -------------------------------------------------------------------------------
    UIViewAutoresizing autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(UIViewAutoresizing mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }
    void setNeedsLayout();
    bool needsLayout() const { return needsLayout_; }
    // Lays out now: from the topmost ancestor that needs layout, down through every view below
    // it that needs layout.
    void layoutIfNeeded();
    // Lays out the subviews; the default does what the layout engine hooks did (nothing else).
    virtual void layoutSubviews() {}
    // The size that best fits the given size; the default answers the current bounds size.
    virtual CGSize sizeThatFits(CGSize size) const;
    // Resizes the bounds to sizeThatFits(current size), keeping the origin of the frame.
    virtual void sizeToFit();

    // ---- display ------------------------------------------------------------------------------
    void setNeedsDisplay();
    void setNeedsDisplayInRect(CGRect rect);
    bool needsDisplay() const { return needsDisplay_; }
    // Draws the view's content in its bounds space into UIGraphicsGetCurrentContext(). The
    // default draws nothing.
    virtual void drawRect(CGRect rect);
    // Runs drawRect now into a new backing picture that becomes the layer's contents (what the
    // display cycle does for a view in a window that needs display).
    void displayNow();
    // Draws the whole view tree into the current graphics context, the view's bounds mapped onto
    // the rectangle. Always true.
    bool drawViewHierarchyInRect(CGRect rect, bool afterScreenUpdates);

    // ---- hit testing and conversion -----------------------------------------------------------
    // The deepest visible, interactive view containing the point (in this view's space), subviews
    // front to back; nullptr when the point is outside or the view is hidden, not interactive or
    // almost transparent (alpha < 0.01).
    virtual Ref<UIView> hitTest(CGPoint point, const Ref<UIEvent>& event);
    virtual bool pointInside(CGPoint point, const Ref<UIEvent>& event);
    // To and from another view's space; nullptr means the window's space (the root of the tree
    // for a view outside a window). Views of different trees convert through their roots'
    // frames (windows: screen coordinates).
    CGPoint convertPointToView(CGPoint point, const Ref<UIView>& view) const;
    CGPoint convertPointFromView(CGPoint point, const Ref<UIView>& view) const;
    CGRect convertRectToView(CGRect rect, const Ref<UIView>& view) const;
    CGRect convertRectFromView(CGRect rect, const Ref<UIView>& view) const;

    // ---- input --------------------------------------------------------------------------------
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    virtual void setUserInteractionEnabled(bool on) { userInteractionEnabled_ = on; }
    bool isMultipleTouchEnabled() const { return multipleTouchEnabled_; }
    void setMultipleTouchEnabled(bool on) { multipleTouchEnabled_ = on; }
    bool isExclusiveTouch() const { return exclusiveTouch_; }
    void setExclusiveTouch(bool on) { exclusiveTouch_ = on; }
    // Makes the first responder among this view and its subviews resign; true when none is left
    // (a refusal counts only without force).
    bool endEditing(bool force);

    // ---- responder chain ----------------------------------------------------------------------
    // The view controller (or any responder) that manages this view comes first in the chain; the
    // controller layer registers itself here, weakly.
    void setViewControllerForResponderChain(Weak<UIResponder> controller) {
        controller_ = std::move(controller);
    }
    Ref<UIResponder> viewControllerForResponderChain() const { return controller_.lock(); }
    Ref<UIResponder> nextResponder() const override;
    UIWindow* windowForFirstResponder() const override { return windowPointer(); }

    // ---- gesture recognisers (defined by the gesture layer) -----------------------------------
    void addGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer);
    void removeGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer);
    const std::vector<Ref<UIGestureRecognizer>>& gestureRecognizers() const { return gestureRecognizers_; }
    // Told when a recogniser is attached to (true) or detached from (false) a view, so that the
    // recogniser can keep its view. One hook, set by the gesture layer at start-up.
    using GestureAttachHook =
        std::function<void(UIView* view, const Ref<UIGestureRecognizer>&, bool attached)>;
    static void setGestureRecognizerAttachHook(GestureAttachHook hook);

    // ---- constraints (solved by the constraint layer) ------------------------------------------
    // The installed constraints, in the order added. Adding one already installed does nothing.
    void addConstraint(const Ref<NSLayoutConstraint>& constraint);
    void addConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints);
    void removeConstraint(const Ref<NSLayoutConstraint>& constraint);
    void removeConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints);
    const std::vector<Ref<NSLayoutConstraint>>& constraints() const { return constraints_; }
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizingMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool on) { translatesAutoresizingMask_ = on; }
    // Called by the layout pass (before the engine hooks) when setNeedsUpdateConstraints was
    // called; the default does nothing.
    virtual void updateConstraints() {}
    void setNeedsUpdateConstraints();
    bool needsUpdateConstraints() const { return needsUpdateConstraints_; }
    void updateConstraintsIfNeeded();
    // Hooks the layout pass runs for each view it lays out, after updateConstraints and before
    // layoutSubviews, in the order added (the constraint solver sets frames here). Returns a token.
    static std::uint64_t addLayoutEngineHook(std::function<void(UIView&)> hook);
    static void removeLayoutEngineHook(std::uint64_t token);
    // The size the view's content wants; UIViewNoIntrinsicMetric for each unknown component.
    virtual CGSize intrinsicContentSize() const { return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric}; }
    // Tells the layout engine (through the hook below) and marks the superview for layout.
    void invalidateIntrinsicContentSize();
    // The smallest (or, with UILayoutFittingExpandedSize, largest) size that satisfies the view's
    // constraints; answered by the fitting hook when one is set, else the bounds size.
    virtual CGSize systemLayoutSizeFittingSize(CGSize targetSize);
    virtual CGSize systemLayoutSizeFittingSize(CGSize targetSize, UILayoutPriority horizontalFittingPriority,
                                               UILayoutPriority verticalFittingPriority);
    using FittingSizeHook = std::function<CGSize(UIView& view, CGSize target, UILayoutPriority horizontal,
                                                 UILayoutPriority vertical)>;
    static void setSystemLayoutSizeFittingHook(FittingSizeHook hook);
    using IntrinsicSizeInvalidationHook = std::function<void(UIView& view)>;
    static void setIntrinsicContentSizeInvalidationHook(IntrinsicSizeInvalidationHook hook);
    UILayoutPriority contentHuggingPriorityForAxis(UILayoutConstraintAxis axis) const;
    void setContentHuggingPriority(UILayoutPriority priority, UILayoutConstraintAxis axis);
    UILayoutPriority contentCompressionResistancePriorityForAxis(UILayoutConstraintAxis axis) const;
    void setContentCompressionResistancePriority(UILayoutPriority priority, UILayoutConstraintAxis axis);

    // ---- accessibility and motion effects ------------------------------------------------------
    bool isAccessibilityElement() const { return accessibilityElement_; }
    void setIsAccessibilityElement(bool on) { accessibilityElement_ = on; }
    const std::optional<std::string>& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::optional<std::string> label) { accessibilityLabel_ = std::move(label); }
    const std::optional<std::string>& accessibilityHint() const { return accessibilityHint_; }
    void setAccessibilityHint(std::optional<std::string> hint) { accessibilityHint_ = std::move(hint); }
    const std::optional<std::string>& accessibilityIdentifier() const { return accessibilityIdentifier_; }
    void setAccessibilityIdentifier(std::optional<std::string> id) {
        accessibilityIdentifier_ = std::move(id);
    }
    UIAccessibilityTraits accessibilityTraits() const { return accessibilityTraits_; }
    void setAccessibilityTraits(UIAccessibilityTraits traits) { accessibilityTraits_ = traits; }
    // Motion effects do nothing here; the list is kept.
    void addMotionEffect(const Ref<NSObject>& effect);
    void removeMotionEffect(const Ref<NSObject>& effect);
    const std::vector<Ref<NSObject>>& motionEffects() const { return motionEffects_; }

    // ---- animations (UIViewAnimation.cpp) -------------------------------------------------------
    static void animateWithDuration(double duration, std::function<void()> animations);
    static void animateWithDuration(double duration, std::function<void()> animations,
                                    UIViewAnimationCompletion completion);
    static void animateWithDuration(double duration, double delay, UIViewAnimationOptions options,
                                    std::function<void()> animations, UIViewAnimationCompletion completion);
    // The spring form: damping and velocity are kept on the layer animations' record only.
    static void animateWithDuration(double duration, double delay, CGFloat dampingRatio, CGFloat velocity,
                                    UIViewAnimationOptions options, std::function<void()> animations,
                                    UIViewAnimationCompletion completion);
    // Keyframes: inside `animations`, addKeyframeWithRelativeStartTime gives each change its
    // share (0...1) of the duration. Each animated property gets a CAKeyframeAnimation.
    static void animateKeyframesWithDuration(double duration, double delay,
                                             UIViewKeyframeAnimationOptions options,
                                             std::function<void()> animations,
                                             UIViewAnimationCompletion completion);
    static void addKeyframeWithRelativeStartTime(double frameStartTime, double frameDuration,
                                                 std::function<void()> animations);
    // Cross-dissolves and flips: the changes apply at once and the completion follows the
    // duration; a CATransition is recorded on the view's layer under "transition".
    static void transitionWithView(const Ref<UIView>& view, double duration, UIViewAnimationOptions options,
                                   std::function<void()> animations, UIViewAnimationCompletion completion);
    // Puts toView in fromView's place (or, with ShowHideTransitionViews, hides fromView and shows
    // toView), then completes after the duration.
    static void transitionFromView(const Ref<UIView>& fromView, const Ref<UIView>& toView, double duration,
                                   UIViewAnimationOptions options, UIViewAnimationCompletion completion);
    // Changes made inside are not animated (even inside an animation block).
    static void performWithoutAnimation(const std::function<void()>& actions);
    static void setAnimationsEnabled(bool enabled);
    static bool areAnimationsEnabled();
    // The older begin/commit form; it maps onto the block form. The did-stop call receives the
    // animation id, the finished flag and the context, and runs only while the delegate (when
    // one was set) lives.
    static void beginAnimations(const std::optional<std::string>& animationID, void* context = nullptr);
    static void commitAnimations();
    static void setAnimationDuration(double duration);
    static void setAnimationDelay(double delay);
    static void setAnimationCurve(UIViewAnimationCurve curve);
    static void setAnimationRepeatCount(float repeatCount);
    static void setAnimationRepeatAutoreverses(bool autoreverses);
    static void setAnimationBeginsFromCurrentState(bool fromCurrentState);
    static void setAnimationTransition(UIViewAnimationTransition transition, const Ref<UIView>& view,
                                       bool cache);
    static void setAnimationDelegate(const Ref<NSObject>& delegate);
    using AnimationDidStopSelector =
        std::function<void(const std::optional<std::string>& animationID, bool finished, void* context)>;
    static void setAnimationDidStopSelector(AnimationDidStopSelector selector);
    static void
    setAnimationWillStartSelector(std::function<void(const std::optional<std::string>&, void*)> selector);
    // The animations of this view's layer (view animations and any added directly).
    std::size_t runningAnimationCount() const;
    // False while a view animation without AllowUserInteraction runs on this view: hit testing
    // passes over it, as the platform does.
    bool acceptsTouchesDuringAnimations() const { return blockingAnimations_ == 0; }

    // ---- internal -----------------------------------------------------------------------------
    // For the animation machinery: counts animations that block touches.
    void adjustBlockingAnimations(int delta) { blockingAnimations_ += delta; }
    // For the renderer: draws the view's content for a layer without a current backing picture
    // (drawRect straight into the rendering context).
    void drawContentForRendering(const CGContextRef& context);
    // For the display cycle.
    static void runLayoutAndDisplayCycle();

  protected:
    // Called after the bounds size changed (before autoresizing the subviews).
    virtual void boundsSizeDidChange(CGSize oldSize) {}
    // Subclasses that animate their own properties report model changes here so that an open
    // animation block records them (key: a layer key path; values boxed as the layer answers).
    void recordAnimatableChange(const std::string& layerKey, const Value& fromValue, const Value& toValue);

  private:
    friend class UIWindow;
    friend struct detail::UIViewAccess;

    CALayer& L() const { return *layer(); }
    void geometryChanged(CGSize oldBoundsSize);
    void resizeSubviewsWithOldSize(CGSize oldSize);
    void autoresizeWithOldSuperviewSize(CGSize oldSize, CGSize newSize);
    void insertSubviewInternal(const Ref<UIView>& view, std::size_t index);
    void detachFromSuperview(bool notifySuperview);
    void moveToWindow(UIWindow* oldWindow, UIWindow* newWindow, bool will);
    void markSubtreeNeedsLayout();
    void layoutSubtreeIfNeeded();
    void layoutThisView();
    void tintChanged();
    CGAffineTransform transformToRoot(const UIView* stopAt) const;
    const UIView* rootView() const;

    mutable Ref<CALayer> layer_;
    CGRect initialFrame_{};
    bool initiallyHidden_ = false;
    UIView* superview_ = nullptr;
    std::vector<Ref<UIView>> subviews_;
    Weak<UIResponder> controller_;

    Ref<UIColor> backgroundColor_;
    Ref<UIColor> tintColor_;
    UIViewTintAdjustmentMode tintAdjustmentMode_ = UIViewTintAdjustmentModeAutomatic;
    UIViewContentMode contentMode_ = UIViewContentModeScaleToFill;
    std::optional<CGFloat> contentScaleFactor_;
    long tag_ = 0;
    bool opaque_ = true;
    bool clearsContextBeforeDrawing_ = true;
    bool userInteractionEnabled_ = true;
    bool multipleTouchEnabled_ = false;
    bool exclusiveTouch_ = false;
    bool autoresizesSubviews_ = true;
    UIViewAutoresizing autoresizingMask_ = UIViewAutoresizingNone;

    bool needsLayout_ = false;
    bool subtreeNeedsLayout_ = false;
    bool needsDisplay_ = false;
    bool inLayout_ = false;
    bool needsUpdateConstraints_ = false;
    bool translatesAutoresizingMask_ = true;
    int blockingAnimations_ = 0;

    std::vector<Ref<NSLayoutConstraint>> constraints_;
    std::vector<Ref<UIGestureRecognizer>> gestureRecognizers_;
    UILayoutPriority hugging_[2] = {UILayoutPriorityDefaultLow, UILayoutPriorityDefaultLow};
    UILayoutPriority compression_[2] = {UILayoutPriorityDefaultHigh, UILayoutPriorityDefaultHigh};

    bool accessibilityElement_ = false;
    std::optional<std::string> accessibilityLabel_, accessibilityHint_, accessibilityIdentifier_;
    UIAccessibilityTraits accessibilityTraits_ = UIAccessibilityTraitNone;
    std::vector<Ref<NSObject>> motionEffects_;
};

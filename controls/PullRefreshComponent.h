#pragma once
// The base of the pull-to-refresh controls: a strip that sits inside a vertical scroll view above
// its content (headers) or below it (footers), follows the scroll view by observing its content
// offset, content size and pan gesture state, and holds the refresh state, how far it has been
// pulled into view and the callback to run when refreshing starts.
//
// The state is one of the five PullRefreshState values, shared by every header and footer. A new
// control runs prepare() and then setState(Idle) through the whole subclass chain, so each
// subclass sets up its idle look from "old state 0". Subclasses override setState following one
// pattern: when the new state equals the current one nothing happens at all; otherwise they call
// the parent (which stores it) and react knowing the old state.
//
// Attaching: entering a scroll view (willMoveToSuperview) takes the scroll view's width, bounces
// it vertically, records its content inset as scrollViewOriginalInset and starts observing it.
// Leaving it — for no superview or for any view that is not a scroll view — stops observing. A
// control placed in a view that is not a scroll view stays inert.
//
// beginRefreshing in a window moves to Refreshing at once; outside a window it moves to
// WillRefresh and the control's next draw (in a window) moves it on. The refreshing callback (the
// block, then the target's action) always runs on a later turn of the main queue, never inside
// the state change that asked for it.
//
// Main thread only: observation, state, animations and layout.

#include <functional>

#include "foundation/NSKeyValueObserving.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIView.h"

// The refresh states.
namespace PullRefreshState {
inline constexpr int Idle = 1;
// The user drags far enough that letting go starts a refresh.
inline constexpr int Pulling = 2;
// The callback has been or is being run; the control is held in view.
inline constexpr int Refreshing = 3;
// beginRefreshing came while the control was not in a window.
inline constexpr int WillRefresh = 4;
// Footers only: the list has been read to its end.
inline constexpr int NoMoreData = 5;
}  // namespace PullRefreshState

// Shared measures of the refresh controls.
namespace PullRefreshConst {
inline constexpr CGFloat HeaderHeight = 54.0;
inline constexpr CGFloat FooterHeight = 44.0;
// Showing the control, arrow turns.
inline constexpr double FastAnimationDuration = 0.25;
// Hiding the control after a refresh.
inline constexpr double SlowAnimationDuration = 0.4;
// The turned arrow: a hair short of half a turn, so the turn always goes the same way round.
inline constexpr CGFloat TurnedArrowAngle = 0.000001 - 3.14159265358979323846;
// Where the arrow or indicator sits left of the centred text.
inline constexpr CGFloat IndicatorOffsetFromCentre = 100.0;
}  // namespace PullRefreshConst

class PullRefreshComponent : public UIView, public NSKeyValueObserving {
  public:
    using RefreshingBlock = std::function<void()>;
    // A selector sent to the refreshing target with the control as its argument. An empty action
    // is one the target does not respond to.
    using RefreshingAction =
        std::function<void(const Ref<NSObject>& target, const Ref<PullRefreshComponent>& sender)>;

    // initWithFrame: (init is a zero frame); make<T>() then runs prepare() and setState(Idle).
    PullRefreshComponent();
    explicit PullRefreshComponent(CGRect frame);
    ~PullRefreshComponent() override;
    void didInit();
    std::string className() const override { return "PullRefreshComponent"; }

    // ---- hooks for the subclasses (each calls its parent first) ---------------------------------
    // Once, at creation: flexible width, clear background.
    virtual void prepare();
    // Lays out the subviews; runs from layoutSubviews.
    virtual void placeSubviews();
    // `change` holds "new" and "old" (boxed values); null when there is no change dictionary.
    virtual void scrollViewContentOffsetDidChange(const Dictionary* change) {}
    virtual void scrollViewContentSizeDidChange(const Dictionary* change) {}
    virtual void scrollViewPanStateDidChange(const Dictionary* change) {}

    void layoutSubviews() override;
    void willMoveToSuperview(const Ref<UIView>& newSuperview) override;
    // Moves WillRefresh on to Refreshing.
    void drawRect(CGRect rect) override;

    virtual void addObservers();
    virtual void removeObservers();
    void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                const Dictionary& change, void* context) override;

    // ---- refreshing -----------------------------------------------------------------------------
    virtual void beginRefreshing();
    virtual void endRefreshing();
    // Refreshing or WillRefresh.
    bool isRefreshing() const;
    // Schedules the block and then the target's action on the main queue.
    void executeRefreshingCallback();

    const RefreshingBlock& refreshingBlock() const { return refreshingBlock_; }
    void setRefreshingBlock(RefreshingBlock block) { refreshingBlock_ = std::move(block); }
    Ref<NSObject> refreshingTarget() const { return refreshingTarget_.lock(); }
    void setRefreshingTarget(const Ref<NSObject>& target) { refreshingTarget_ = target; }
    const RefreshingAction& refreshingAction() const { return refreshingAction_; }
    void setRefreshingAction(RefreshingAction action) { refreshingAction_ = std::move(action); }
    void setRefreshingTarget(const Ref<NSObject>& target, RefreshingAction action);

    // ---- state ----------------------------------------------------------------------------------
    int state() const { return state_; }
    // The base stores the value; see the header comment for the subclasses' pattern.
    virtual void setState(int state);

    double pullingPercent() const { return pullingPercent_; }
    // Follows with the alpha when automaticallyChangeAlpha is on (not while refreshing).
    virtual void setPullingPercent(double percent);

    bool isAutomaticallyChangeAlpha() const { return automaticallyChangeAlpha_; }
    void setAutomaticallyChangeAlpha(bool on);
    // A second name for the same flag.
    bool isAutoChangeAlpha() const { return isAutomaticallyChangeAlpha(); }
    void setAutoChangeAlpha(bool on) { setAutomaticallyChangeAlpha(on); }

    // ---- the scroll view ------------------------------------------------------------------------
    Ref<UIScrollView> scrollView() const { return scrollView_.lock(); }
    // The scroll view's content inset before this control changed it.
    UIEdgeInsets scrollViewOriginalInset() const { return scrollViewOriginalInset_; }
    // The scroll view's pan recogniser while observed.
    const Ref<UIPanGestureRecognizer>& pan() const { return pan_; }

  protected:
    void setScrollViewOriginalInset(UIEdgeInsets inset) { scrollViewOriginalInset_ = inset; }

  private:
    void detachFromScrollView();

    UIEdgeInsets scrollViewOriginalInset_{};
    Weak<UIScrollView> scrollView_;
    // The scroll view whose offset and size are observed (the one being left, while leaving).
    Weak<UIScrollView> observed_;
    Ref<UIPanGestureRecognizer> pan_;
    bool automaticallyChangeAlpha_ = false;
    int state_ = 0;
    RefreshingBlock refreshingBlock_;
    Weak<NSObject> refreshingTarget_;
    RefreshingAction refreshingAction_;
    double pullingPercent_ = 0;
};

namespace detail {
// The factories' body: a new control of the class with a block or a target and action.
template <class T>
Ref<T> makeRefreshControl(PullRefreshComponent::RefreshingBlock block) {
    auto control = make<T>();
    control->setRefreshingBlock(std::move(block));
    return control;
}
template <class T>
Ref<T> makeRefreshControl(const Ref<NSObject>& target, PullRefreshComponent::RefreshingAction action) {
    auto control = make<T>();
    control->setRefreshingTarget(target, std::move(action));
    return control;
}
}  // namespace detail

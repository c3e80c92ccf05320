#include "controls/PullRefreshComponent.h"

#include "controls/UIView+RMExtension.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSValue+Geometry.h"

using namespace UIView_RMExtension;

namespace {
constexpr char kContentOffset[] = "contentOffset";
constexpr char kContentSize[] = "contentSize";
constexpr char kPanState[] = "state";
}  // namespace

PullRefreshComponent::PullRefreshComponent() : UIView() {}

PullRefreshComponent::PullRefreshComponent(CGRect frame) : UIView(frame) {}

PullRefreshComponent::~PullRefreshComponent() {
    // Observations are held weakly and would be skipped anyway; leave nothing registered.
    if (auto observed = observed_.lock()) {
        KVO::removeObserver(*observed, this, kContentOffset);
        KVO::removeObserver(*observed, this, kContentSize);
    }
    if (pan_) KVO::removeObserver(*pan_, this, kPanState);
}

void PullRefreshComponent::didInit() {
    prepare();
    setState(PullRefreshState::Idle);
}

void PullRefreshComponent::prepare() {
    NS_ASSERT_MAIN_THREAD();
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    setBackgroundColor(UIColor::clearColor());
}

void PullRefreshComponent::placeSubviews() {}

void PullRefreshComponent::layoutSubviews() {
    UIView::layoutSubviews();
    placeSubviews();
}

void PullRefreshComponent::willMoveToSuperview(const Ref<UIView>& newSuperview) {
    UIView::willMoveToSuperview(newSuperview);
    auto scroll = asKind<UIScrollView>(newSuperview);
    if (!scroll) {
        // Leaving the scroll view, for nothing or for a view that cannot be followed: stop
        // observing the old one either way.
        removeObservers();
        return;
    }
    removeObservers();
    setPr_w(*this, scroll->bounds().size.width);
    setPr_x(*this, 0);
    scrollView_ = scroll;
    scroll->setAlwaysBounceVertical(true);
    scrollViewOriginalInset_ = scroll->contentInset();
    observed_ = scroll;
    addObservers();
}

void PullRefreshComponent::drawRect(CGRect rect) {
    UIView::drawRect(rect);
    if (state_ == PullRefreshState::WillRefresh) setState(PullRefreshState::Refreshing);
}

void PullRefreshComponent::addObservers() {
    NS_ASSERT_MAIN_THREAD();
    auto scroll = observed_.lock();
    if (!scroll) return;
    const auto options = NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld;
    KVO::addObserver(*scroll, self(), kContentOffset, options);
    KVO::addObserver(*scroll, self(), kContentSize, options);
    pan_ = scroll->panGestureRecognizer();
    if (pan_) KVO::addObserver(*pan_, self(), kPanState, options);
}

void PullRefreshComponent::removeObservers() {
    NS_ASSERT_MAIN_THREAD();
    if (auto observed = observed_.lock()) {
        KVO::removeObserver(*observed, this, kContentOffset);
        KVO::removeObserver(*observed, this, kContentSize);
    }
    observed_.reset();
    if (pan_) KVO::removeObserver(*pan_, this, kPanState);
    pan_.reset();
}

void PullRefreshComponent::observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                                  const Dictionary& change, void* context) {
    if (!isUserInteractionEnabled()) return;
    // Keep this control alive while its handlers run: they may remove it from its scroll view.
    auto keepAlive = weakSelf().lock();
    if (keyPath == kContentSize) {
        scrollViewContentSizeDidChange(&change);
        return;
    }
    if (isHidden()) return;
    if (keyPath == kContentOffset) {
        scrollViewContentOffsetDidChange(&change);
    } else if (keyPath == kPanState) {
        scrollViewPanStateDidChange(&change);
    }
}

void PullRefreshComponent::setRefreshingTarget(const Ref<NSObject>& target, RefreshingAction action) {
    NS_ASSERT_MAIN_THREAD();
    refreshingTarget_ = target;
    refreshingAction_ = std::move(action);
}

void PullRefreshComponent::beginRefreshing() {
    NS_ASSERT_MAIN_THREAD();
    UIView::animateWithDuration(PullRefreshConst::FastAnimationDuration, [this] { setAlpha(1.0); });
    setPullingPercent(1.0);
    if (!window()) {
        setState(PullRefreshState::WillRefresh);
        setNeedsDisplay();
    } else {
        setState(PullRefreshState::Refreshing);
    }
}

void PullRefreshComponent::endRefreshing() {
    NS_ASSERT_MAIN_THREAD();
    setState(PullRefreshState::Idle);
}

bool PullRefreshComponent::isRefreshing() const {
    return state_ == PullRefreshState::Refreshing || state_ == PullRefreshState::WillRefresh;
}

void PullRefreshComponent::setState(int state) {
    NS_ASSERT_MAIN_THREAD();
    state_ = state;
}

void PullRefreshComponent::setAutomaticallyChangeAlpha(bool on) {
    NS_ASSERT_MAIN_THREAD();
    automaticallyChangeAlpha_ = on;
    if (isRefreshing()) return;
    setAlpha(on ? pullingPercent_ : 1.0);
}

void PullRefreshComponent::setPullingPercent(double percent) {
    NS_ASSERT_MAIN_THREAD();
    pullingPercent_ = percent;
    if (isRefreshing()) return;
    if (automaticallyChangeAlpha_) setAlpha(percent);
}

void PullRefreshComponent::executeRefreshingCallback() {
    NS_ASSERT_MAIN_THREAD();
    // The task holds the control, so a refresh asked for still runs if the list goes meanwhile.
    auto control = selfAs<PullRefreshComponent>();
    dispatch_async(dispatch_get_main_queue(), [control] {
        // Copies: the callback may replace them.
        auto block = control->refreshingBlock_;
        if (block) block();
        auto target = control->refreshingTarget_.lock();
        auto action = control->refreshingAction_;
        if (target && action) action(target, control);
    });
}

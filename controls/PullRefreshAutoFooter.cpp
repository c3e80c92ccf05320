#include "controls/PullRefreshAutoFooter.h"

#include "controls/UIScrollView+RMExtension.h"
#include "controls/UIView+RMExtension.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSValue+Geometry.h"

using namespace UIView_RMExtension;
using namespace UIScrollView_RMExtension;

namespace {
// The y of a boxed point under `key` of a change dictionary.
std::optional<CGFloat> offsetYIn(const Dictionary* change, const char* key) {
    if (!change) return std::nullopt;
    auto boxed = change->objectForKey(key).objectAs<NSValue>();
    if (!boxed) return std::nullopt;
    return NSValue_Geometry::CGPointValue(boxed).y;
}
}  // namespace

Ref<UIScrollView> PullRefreshAutoFooter::attachedScrollView() const {
    auto scroll = scrollView();
    return scroll && superviewPointer() == scroll.get() ? scroll : nullptr;
}

void PullRefreshAutoFooter::willMoveToSuperview(const Ref<UIView>& newSuperview) {
    // Whatever the footer moves to, the scroll view it leaves gets its strip back.
    if (auto leaving = attachedScrollView(); leaving && !isHidden()) {
        setPr_insetB(*leaving, pr_insetB(*leaving) - pr_h(*this));
    }
    PullRefreshFooter::willMoveToSuperview(newSuperview);
    if (auto scroll = asKind<UIScrollView>(newSuperview)) {
        if (!isHidden()) setPr_insetB(*scroll, pr_insetB(*scroll) + pr_h(*this));
        setPr_y(*this, pr_contentH(*scroll));
    }
}

void PullRefreshAutoFooter::prepare() {
    PullRefreshFooter::prepare();
    triggerAutomaticallyRefreshPercent_ = 1.0;
    automaticallyRefresh_ = true;
}

void PullRefreshAutoFooter::scrollViewContentSizeDidChange(const Dictionary* change) {
    PullRefreshFooter::scrollViewContentSizeDidChange(change);
    if (auto scroll = scrollView()) setPr_y(*this, pr_contentH(*scroll));
}

void PullRefreshAutoFooter::scrollViewContentOffsetDidChange(const Dictionary* change) {
    PullRefreshFooter::scrollViewContentOffsetDidChange(change);
    auto scroll = scrollView();
    if (!scroll) return;
    if (state() != PullRefreshState::Idle || !automaticallyRefresh_ || pr_y(*this) == 0) return;
    const CGFloat contentH = pr_contentH(*scroll);
    const CGFloat viewH = pr_h(*scroll);
    if (pr_insetT(*scroll) + contentH <= viewH) return;
    const CGFloat height = pr_h(*this);
    const CGFloat threshold =
        contentH - viewH + height * triggerAutomaticallyRefreshPercent_ + pr_insetB(*scroll) - height;
    if (pr_offsetY(*scroll) < threshold) return;
    const auto newY = offsetYIn(change, "new");
    const auto oldY = offsetYIn(change, "old");
    if (!newY || !oldY || *newY <= *oldY) return;
    beginRefreshing();
}

void PullRefreshAutoFooter::scrollViewPanStateDidChange(const Dictionary* change) {
    PullRefreshFooter::scrollViewPanStateDidChange(change);
    if (state() != PullRefreshState::Idle) return;
    auto scroll = scrollView();
    if (!scroll || !pan() || pan()->state() != UIGestureRecognizerStateEnded) return;
    const CGFloat contentH = pr_contentH(*scroll);
    const CGFloat viewH = pr_h(*scroll);
    const CGFloat top = pr_insetT(*scroll);
    const CGFloat threshold = top + contentH > viewH ? contentH + pr_insetB(*scroll) - viewH : -top;
    if (pr_offsetY(*scroll) >= threshold) beginRefreshing();
}

void PullRefreshAutoFooter::setState(int newState) {
    NS_ASSERT_MAIN_THREAD();
    if (newState == state()) return;
    PullRefreshFooter::setState(newState);
    if (newState != PullRefreshState::Refreshing) return;
    auto footer = selfAs<PullRefreshAutoFooter>();
    dispatch_after(
        dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(kRefreshingCallbackDelay * NSEC_PER_SEC)),
        dispatch_get_main_queue(), [footer] { footer->executeRefreshingCallback(); });
}

void PullRefreshAutoFooter::setHidden(bool hidden) {
    NS_ASSERT_MAIN_THREAD();
    const bool wasHidden = isHidden();
    PullRefreshFooter::setHidden(hidden);
    // A footer taken out of its list (whose reload block may still toggle it) leaves the list's
    // insets alone.
    auto scroll = attachedScrollView();
    if (!wasHidden && hidden) {
        setState(PullRefreshState::Idle);
        if (scroll) setPr_insetB(*scroll, pr_insetB(*scroll) - pr_h(*this));
    } else if (wasHidden && !hidden) {
        if (scroll) {
            setPr_insetB(*scroll, pr_insetB(*scroll) + pr_h(*this));
            setPr_y(*this, pr_contentH(*scroll));
        }
    }
}

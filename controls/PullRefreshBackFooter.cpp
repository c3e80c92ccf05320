#include "controls/PullRefreshBackFooter.h"

#include <algorithm>

#include "controls/PullRefreshScrollSupport.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "controls/UIScrollView+RMExtension.h"
#include "controls/UIView+RMExtension.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UICollectionView.h"

using namespace UIView_RMExtension;
using namespace UIScrollView_RMExtension;

namespace {
void afterCollectionViewDelay(const Ref<UIScrollView>& scroll, std::function<void()> step) {
    if (isKindOf<UICollectionView>(scroll)) {
        dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(0.1 * NSEC_PER_SEC)),
                       dispatch_get_main_queue(), std::move(step));
    } else {
        step();
    }
}
}  // namespace

void PullRefreshBackFooter::willMoveToSuperview(const Ref<UIView>& newSuperview) {
    PullRefreshFooter::willMoveToSuperview(newSuperview);
    if (asKind<UIScrollView>(newSuperview)) scrollViewContentSizeDidChange(nullptr);
}

CGFloat PullRefreshBackFooter::heightForContentBreakView() const {
    auto scroll = scrollView();
    if (!scroll) return 0;
    const UIEdgeInsets inset = scrollViewOriginalInset();
    return pr_contentH(*scroll) - (scroll->frame().size.height - inset.bottom - inset.top);
}

CGFloat PullRefreshBackFooter::happenOffsetY() const {
    const CGFloat breakHeight = heightForContentBreakView();
    return std::max<CGFloat>(breakHeight, 0) - scrollViewOriginalInset().top;
}

void PullRefreshBackFooter::scrollViewContentSizeDidChange(const Dictionary* change) {
    PullRefreshFooter::scrollViewContentSizeDidChange(change);
    auto scroll = scrollView();
    if (!scroll) return;
    const UIEdgeInsets inset = scrollViewOriginalInset();
    const CGFloat ignored = ignoredScrollViewContentInsetBottom();
    const CGFloat belowContent = pr_contentH(*scroll) + ignored;
    const CGFloat atViewBottom = pr_h(*scroll) - inset.top - inset.bottom + ignored;
    setPr_y(*this, std::max(belowContent, atViewBottom));
}

void PullRefreshBackFooter::scrollViewContentOffsetDidChange(const Dictionary* change) {
    PullRefreshFooter::scrollViewContentOffsetDidChange(change);
    if (state() == PullRefreshState::Refreshing) return;
    auto scroll = scrollView();
    if (!scroll) return;
    setScrollViewOriginalInset(scroll->contentInset());

    const CGFloat offsetY = pr_offsetY(*scroll);
    const CGFloat happen = happenOffsetY();
    if (offsetY <= happen) return;
    const CGFloat height = pr_h(*this);
    const double percent = height > 0 ? (offsetY - happen) / height : 0;

    if (state() == PullRefreshState::NoMoreData) {
        setPullingPercent(percent);
        return;
    }
    if (scroll->isDragging()) {
        setPullingPercent(percent);
        const CGFloat pullingOffsetY = happen + height;
        if (state() == PullRefreshState::Idle && offsetY > pullingOffsetY) {
            setState(PullRefreshState::Pulling);
        } else if (state() == PullRefreshState::Pulling && offsetY <= pullingOffsetY) {
            setState(PullRefreshState::Idle);
        }
    } else if (state() == PullRefreshState::Pulling) {
        beginRefreshing();
    } else if (percent < 1) {
        setPullingPercent(percent);
    }
}

void PullRefreshBackFooter::setState(int newState) {
    NS_ASSERT_MAIN_THREAD();
    const int oldState = state();
    if (newState == oldState) return;
    PullRefreshFooter::setState(newState);

    auto scroll = scrollView();
    Weak<PullRefreshBackFooter> weak = selfAs<PullRefreshBackFooter>();
    if ((newState == PullRefreshState::Idle || newState == PullRefreshState::NoMoreData) &&
        oldState == PullRefreshState::Refreshing) {
        UIView::animateWithDuration(
            PullRefreshConst::SlowAnimationDuration,
            [&] {
                if (scroll) {
                    setPr_insetB(*scroll, pr_insetB(*scroll) - lastBottomDelta_);
                    detail::settleIntoContentRange(*scroll);
                }
                if (isAutomaticallyChangeAlpha()) setAlpha(0.0);
            },
            [weak](bool) {
                if (auto footer = weak.lock()) footer->setPullingPercent(0.0);
            });
        if (scroll && heightForContentBreakView() > 0 &&
            UIScrollView_PullRefresh::totalDataCount(*scroll) != lastRefreshCount_) {
            // New rows came in: announce the offset again so that everything following it
            // (this footer included) sees the list as it is now.
            setPr_offsetY(*scroll, pr_offsetY(*scroll));
        }
    } else if (newState == PullRefreshState::Refreshing) {
        if (scroll) lastRefreshCount_ = UIScrollView_PullRefresh::totalDataCount(*scroll);
        UIView::animateWithDuration(
            PullRefreshConst::FastAnimationDuration,
            [&] {
                if (!scroll) return;
                CGFloat bottom = pr_h(*this) + scrollViewOriginalInset().bottom;
                const CGFloat breakHeight = heightForContentBreakView();
                // Short content: the inset also fills the empty space under it.
                if (breakHeight < 0) bottom -= breakHeight;
                lastBottomDelta_ = bottom - pr_insetB(*scroll);
                setPr_insetB(*scroll, bottom);
                setPr_offsetY(*scroll, happenOffsetY() + pr_h(*this));
            },
            [weak](bool) {
                if (auto footer = weak.lock()) footer->executeRefreshingCallback();
            });
    }
}

void PullRefreshBackFooter::endRefreshing() {
    NS_ASSERT_MAIN_THREAD();
    auto footer = selfAs<PullRefreshBackFooter>();
    afterCollectionViewDelay(scrollView(), [footer] { footer->PullRefreshFooter::endRefreshing(); });
}

void PullRefreshBackFooter::noticeNoMoreData() {
    NS_ASSERT_MAIN_THREAD();
    auto footer = selfAs<PullRefreshBackFooter>();
    afterCollectionViewDelay(scrollView(), [footer] { footer->PullRefreshFooter::noticeNoMoreData(); });
}

#include "controls/PullRefreshHeader.h"

#include "controls/PullRefreshScrollSupport.h"
#include "controls/UIScrollView+RMExtension.h"
#include "controls/UIView+RMExtension.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSUserDefaults.h"
#include "uikit/UICollectionView.h"

using namespace UIView_RMExtension;
using namespace UIScrollView_RMExtension;

void PullRefreshHeader::prepare() {
    PullRefreshComponent::prepare();
    setLastUpdatedTimeKey(PullRefreshHeaderLastUpdatedTimeKey);
    setPr_h(*this, PullRefreshConst::HeaderHeight);
}

void PullRefreshHeader::placeSubviews() {
    PullRefreshComponent::placeSubviews();
    setPr_y(*this, -pr_h(*this) - ignoredScrollViewContentInsetTop_);
}

void PullRefreshHeader::scrollViewContentOffsetDidChange(const Dictionary* change) {
    PullRefreshComponent::scrollViewContentOffsetDidChange(change);
    if (state() == PullRefreshState::Refreshing) return;
    auto scroll = scrollView();
    if (!scroll) return;
    setScrollViewOriginalInset(scroll->contentInset());

    const CGFloat offsetY = pr_offsetY(*scroll);
    const CGFloat happenOffsetY = -scrollViewOriginalInset().top;
    if (offsetY > happenOffsetY) return;

    const CGFloat height = pr_h(*this);
    const CGFloat pullingOffsetY = happenOffsetY - height;
    const double percent = height > 0 ? (happenOffsetY - offsetY) / height : 0;

    if (scroll->isDragging()) {
        setPullingPercent(percent);
        if (state() == PullRefreshState::Idle && offsetY < pullingOffsetY) {
            setState(PullRefreshState::Pulling);
        } else if (state() == PullRefreshState::Pulling && offsetY >= pullingOffsetY) {
            setState(PullRefreshState::Idle);
        }
    } else if (state() == PullRefreshState::Pulling) {
        beginRefreshing();
    } else if (percent < 1) {
        setPullingPercent(percent);
    }
}

void PullRefreshHeader::setState(int newState) {
    NS_ASSERT_MAIN_THREAD();
    const int oldState = state();
    if (newState == oldState) return;
    PullRefreshComponent::setState(newState);

    auto scroll = scrollView();
    Weak<PullRefreshHeader> weak = selfAs<PullRefreshHeader>();
    if (newState == PullRefreshState::Refreshing) {
        UIView::animateWithDuration(
            PullRefreshConst::FastAnimationDuration,
            [&] {
                if (!scroll) return;
                const CGFloat top = scrollViewOriginalInset().top + pr_h(*this);
                setPr_insetT(*scroll, top);
                setPr_offsetY(*scroll, -top);
            },
            [weak](bool) {
                if (auto header = weak.lock()) header->executeRefreshingCallback();
            });
    } else if (newState == PullRefreshState::Idle && oldState == PullRefreshState::Refreshing) {
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->setObject(lastUpdatedTimeKey_, Value(NSDate::date()));
        defaults->synchronize();
        UIView::animateWithDuration(
            PullRefreshConst::SlowAnimationDuration,
            [&] {
                if (scroll) {
                    setPr_insetT(*scroll, pr_insetT(*scroll) - pr_h(*this));
                    detail::settleIntoContentRange(*scroll);
                }
                if (isAutomaticallyChangeAlpha()) setAlpha(0.0);
            },
            [weak](bool) {
                if (auto header = weak.lock()) header->setPullingPercent(0.0);
            });
    }
}

void PullRefreshHeader::endRefreshing() {
    NS_ASSERT_MAIN_THREAD();
    if (isKindOf<UICollectionView>(scrollView())) {
        auto header = selfAs<PullRefreshHeader>();
        dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(0.1 * NSEC_PER_SEC)),
                       dispatch_get_main_queue(),
                       [header] { header->PullRefreshComponent::endRefreshing(); });
    } else {
        PullRefreshComponent::endRefreshing();
    }
}

std::optional<NSDate> PullRefreshHeader::lastUpdatedTime() const {
    Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(lastUpdatedTimeKey_);
    if (const NSDate* date = stored.date()) return *date;
    return std::nullopt;
}

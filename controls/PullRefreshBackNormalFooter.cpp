#include "controls/PullRefreshBackNormalFooter.h"

#include "controls/PullRefreshIndicatorSupport.h"
#include "controls/PullRefreshResources.h"
#include "controls/PullRefreshSubviewSupport.h"
#include "foundation/NSMainThreadCheck.h"

Ref<UIImageView> PullRefreshBackNormalFooter::arrowView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, arrowView_,
                               [] { return make<UIImageView>(PullRefreshResources::arrowImage()); });
}

Ref<UIActivityIndicatorView> PullRefreshBackNormalFooter::loadingView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::refreshIndicator(*this, loadingView_, activityIndicatorViewStyle_);
}

void PullRefreshBackNormalFooter::setLoadingView(const Ref<UIActivityIndicatorView>& view) {
    NS_ASSERT_MAIN_THREAD();
    detail::replaceSubview(*this, loadingView_, view);
}

void PullRefreshBackNormalFooter::setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style) {
    NS_ASSERT_MAIN_THREAD();
    activityIndicatorViewStyle_ = style;
    setLoadingView(nullptr);
    setNeedsLayout();
}

void PullRefreshBackNormalFooter::prepare() {
    PullRefreshBackStateFooter::prepare();
    activityIndicatorViewStyle_ = UIActivityIndicatorViewStyleGray;
}

void PullRefreshBackNormalFooter::placeSubviews() {
    PullRefreshBackStateFooter::placeSubviews();
    const CGPoint centre = detail::pullRefreshIndicatorCentre(bounds(), stateLabel()->isHidden());
    detail::placeArrowAndIndicator(*arrowView(), *loadingView(), centre);
}

void PullRefreshBackNormalFooter::setState(int newState) {
    const int oldState = state();
    if (newState == oldState) return;
    PullRefreshBackStateFooter::setState(newState);

    auto arrow = arrowView();
    auto loading = loadingView();
    const auto turned = CGAffineTransformMakeRotation(PullRefreshConst::TurnedArrowAngle);
    if (newState == PullRefreshState::Idle) {
        if (oldState == PullRefreshState::Refreshing) {
            arrow->setTransform(turned);
            Weak<PullRefreshBackNormalFooter> weak = selfAs<PullRefreshBackNormalFooter>();
            UIView::animateWithDuration(
                PullRefreshConst::SlowAnimationDuration, [&] { loading->setAlpha(0.0); },
                [weak](bool) {
                    auto footer = weak.lock();
                    if (!footer) return;
                    auto indicator = footer->loadingView();
                    indicator->setAlpha(1.0);
                    // Loading again, or at the end of the list: that state's look stays.
                    if (footer->state() != PullRefreshState::Idle) return;
                    indicator->stopAnimating();
                    footer->arrowView()->setHidden(false);
                });
        } else {
            arrow->setHidden(false);
            loading->stopAnimating();
            UIView::animateWithDuration(PullRefreshConst::FastAnimationDuration,
                                        [&] { arrow->setTransform(turned); });
        }
    } else if (newState == PullRefreshState::Pulling) {
        arrow->setHidden(false);
        loading->stopAnimating();
        UIView::animateWithDuration(PullRefreshConst::FastAnimationDuration,
                                    [&] { arrow->setTransform(CGAffineTransformIdentity); });
    } else if (newState == PullRefreshState::Refreshing) {
        arrow->setHidden(true);
        loading->setAlpha(1.0);
        loading->startAnimating();
    } else if (newState == PullRefreshState::NoMoreData) {
        arrow->setHidden(true);
        loading->stopAnimating();
    }
}

#include "controls/PullRefreshBackNormalFooter.h"

#include "controls/PullRefreshIndicatorSupport.h"
#include "controls/PullRefreshResources.h"

Ref<UIImageView> PullRefreshBackNormalFooter::arrowView() {
    auto arrow = arrowView_.lock();
    if (!arrow) {
        arrow = make<UIImageView>(PullRefreshResources::arrowImage());
        addSubview(arrow);
        arrowView_ = arrow;
    }
    return arrow;
}

Ref<UIActivityIndicatorView> PullRefreshBackNormalFooter::loadingView() {
    auto loading = loadingView_.lock();
    if (!loading) {
        loading = detail::makeRefreshIndicator(*this, activityIndicatorViewStyle_);
        loadingView_ = loading;
    }
    return loading;
}

void PullRefreshBackNormalFooter::setLoadingView(const Ref<UIActivityIndicatorView>& view) {
    auto old = loadingView_.lock();
    if (old == view) return;
    if (old) old->removeFromSuperview();
    loadingView_ = view;
    if (view && view->superviewPointer() != this) addSubview(view);
}

void PullRefreshBackNormalFooter::setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style) {
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

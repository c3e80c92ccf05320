#include "controls/PullRefreshNormalHeader.h"

#include "controls/PullRefreshIndicatorSupport.h"
#include "controls/PullRefreshResources.h"
#include "controls/PullRefreshSubviewSupport.h"
#include "foundation/NSMainThreadCheck.h"

Ref<UIImageView> PullRefreshNormalHeader::arrowView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, arrowView_,
                               [] { return make<UIImageView>(PullRefreshResources::arrowImage()); });
}

Ref<UIActivityIndicatorView> PullRefreshNormalHeader::loadingView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::refreshIndicator(*this, loadingView_, activityIndicatorViewStyle_);
}

void PullRefreshNormalHeader::setLoadingView(const Ref<UIActivityIndicatorView>& view) {
    NS_ASSERT_MAIN_THREAD();
    detail::replaceSubview(*this, loadingView_, view);
}

void PullRefreshNormalHeader::setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style) {
    NS_ASSERT_MAIN_THREAD();
    activityIndicatorViewStyle_ = style;
    setLoadingView(nullptr);
    setNeedsLayout();
}

void PullRefreshNormalHeader::prepare() {
    PullRefreshStateHeader::prepare();
    activityIndicatorViewStyle_ = UIActivityIndicatorViewStyleGray;
}

void PullRefreshNormalHeader::placeSubviews() {
    PullRefreshStateHeader::placeSubviews();
    const CGPoint centre = detail::pullRefreshIndicatorCentre(bounds(), stateLabel()->isHidden());
    detail::placeArrowAndIndicator(*arrowView(), *loadingView(), centre);
}

void PullRefreshNormalHeader::setState(int newState) {
    const int oldState = state();
    if (newState == oldState) return;
    PullRefreshStateHeader::setState(newState);

    auto arrow = arrowView();
    auto loading = loadingView();
    Weak<PullRefreshNormalHeader> weak = selfAs<PullRefreshNormalHeader>();
    if (newState == PullRefreshState::Idle) {
        if (oldState == PullRefreshState::Refreshing) {
            arrow->setTransform(CGAffineTransformIdentity);
            UIView::animateWithDuration(
                PullRefreshConst::SlowAnimationDuration, [&] { loading->setAlpha(0.0); },
                [weak](bool) {
                    auto header = weak.lock();
                    // A refresh that began meanwhile keeps its spinner.
                    if (!header || header->state() != PullRefreshState::Idle) return;
                    auto indicator = header->loadingView();
                    indicator->setAlpha(1.0);
                    indicator->stopAnimating();
                    header->arrowView()->setHidden(false);
                });
        } else {
            loading->stopAnimating();
            arrow->setHidden(false);
            UIView::animateWithDuration(PullRefreshConst::FastAnimationDuration,
                                        [&] { arrow->setTransform(CGAffineTransformIdentity); });
        }
    } else if (newState == PullRefreshState::Pulling) {
        loading->stopAnimating();
        arrow->setHidden(false);
        UIView::animateWithDuration(PullRefreshConst::FastAnimationDuration, [&] {
            arrow->setTransform(CGAffineTransformMakeRotation(PullRefreshConst::TurnedArrowAngle));
        });
    } else if (newState == PullRefreshState::Refreshing) {
        loading->setAlpha(1.0);
        loading->startAnimating();
        arrow->setHidden(true);
    }
}

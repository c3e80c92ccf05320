#include "controls/PullRefreshAutoNormalFooter.h"

#include "controls/PullRefreshIndicatorSupport.h"
#include "controls/PullRefreshSubviewSupport.h"

Ref<UIActivityIndicatorView> PullRefreshAutoNormalFooter::loadingView() {
    return detail::refreshIndicator(*this, loadingView_, activityIndicatorViewStyle_);
}

void PullRefreshAutoNormalFooter::setLoadingView(const Ref<UIActivityIndicatorView>& view) {
    detail::replaceSubview(*this, loadingView_, view);
}

void PullRefreshAutoNormalFooter::setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style) {
    activityIndicatorViewStyle_ = style;
    setLoadingView(nullptr);
    setNeedsLayout();
}

void PullRefreshAutoNormalFooter::prepare() {
    PullRefreshAutoStateFooter::prepare();
    activityIndicatorViewStyle_ = UIActivityIndicatorViewStyleGray;
}

void PullRefreshAutoNormalFooter::placeSubviews() {
    PullRefreshAutoStateFooter::placeSubviews();
    loadingView()->setCenter(detail::pullRefreshIndicatorCentre(bounds(), isRefreshingTitleHidden()));
}

void PullRefreshAutoNormalFooter::setState(int newState) {
    if (newState == state()) return;
    PullRefreshAutoStateFooter::setState(newState);
    if (newState == PullRefreshState::Refreshing) {
        loadingView()->startAnimating();
    } else if (newState == PullRefreshState::Idle || newState == PullRefreshState::NoMoreData) {
        loadingView()->stopAnimating();
    }
}

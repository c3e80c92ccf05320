#include "controls/PullRefreshAutoNormalFooter.h"

#include "controls/PullRefreshIndicatorSupport.h"

Ref<UIActivityIndicatorView> PullRefreshAutoNormalFooter::loadingView() {
    auto loading = loadingView_.lock();
    if (!loading) {
        loading = detail::makeRefreshIndicator(*this, activityIndicatorViewStyle_);
        loadingView_ = loading;
    }
    return loading;
}

void PullRefreshAutoNormalFooter::setLoadingView(const Ref<UIActivityIndicatorView>& view) {
    auto old = loadingView_.lock();
    if (old == view) return;
    if (old) old->removeFromSuperview();
    loadingView_ = view;
    if (view && view->superviewPointer() != this) addSubview(view);
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

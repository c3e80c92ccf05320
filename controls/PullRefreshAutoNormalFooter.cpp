#include "controls/PullRefreshAutoNormalFooter.h"

#include "controls/PullRefreshIndicatorSupport.h"
#include "controls/PullRefreshSubviewSupport.h"
#include "foundation/NSMainThreadCheck.h"

Ref<UIActivityIndicatorView> PullRefreshAutoNormalFooter::loadingView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::refreshIndicator(*this, loadingView_, activityIndicatorViewStyle_);
}

void PullRefreshAutoNormalFooter::setLoadingView(const Ref<UIActivityIndicatorView>& view) {
    NS_ASSERT_MAIN_THREAD();
    detail::replaceSubview(*this, loadingView_, view);
}

void PullRefreshAutoNormalFooter::setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style) {
    NS_ASSERT_MAIN_THREAD();
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

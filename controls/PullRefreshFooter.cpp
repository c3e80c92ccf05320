#include "controls/PullRefreshFooter.h"

#include "controls/UIScrollView+PullRefresh.h"
#include "controls/UIView+RMExtension.h"
#include "foundation/NSMainThreadCheck.h"

void PullRefreshFooter::prepare() {
    PullRefreshComponent::prepare();
    UIView_RMExtension::setPr_h(*this, PullRefreshConst::FooterHeight);
    automaticallyHidden_ = true;
}

void PullRefreshFooter::willMoveToSuperview(const Ref<UIView>& newSuperview) {
    PullRefreshComponent::willMoveToSuperview(newSuperview);
    auto scroll = asKind<UIScrollView>(newSuperview);
    if (!scroll) return;
    auto footer = selfAs<PullRefreshFooter>();
    UIScrollView_PullRefresh::setReloadDataBlock(*scroll, [footer](long totalDataCount) {
        if (footer->isAutomaticallyHidden()) footer->setHidden(totalDataCount == 0);
    });
}

void PullRefreshFooter::endRefreshingWithNoMoreData() {
    NS_ASSERT_MAIN_THREAD();
    setState(PullRefreshState::NoMoreData);
}

void PullRefreshFooter::noticeNoMoreData() {
    NS_ASSERT_MAIN_THREAD();
    endRefreshingWithNoMoreData();
}

void PullRefreshFooter::resetNoMoreData() {
    NS_ASSERT_MAIN_THREAD();
    setState(PullRefreshState::Idle);
}

#include "controls/PullRefreshBackStateFooter.h"

#include "controls/PullRefreshSubviewSupport.h"
#include "controls/UILabel+PullRefresh.h"
#include "foundation/NSMainThreadCheck.h"

Ref<UILabel> PullRefreshBackStateFooter::stateLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, stateLabel_, UILabel_PullRefresh::label);
}

void PullRefreshBackStateFooter::setTitle(const std::optional<std::string>& title, int state) {
    NS_ASSERT_MAIN_THREAD();
    if (!title) return;
    stateTitles_[state] = *title;
    stateLabel()->setText(titleForState(this->state()));
}

std::optional<std::string> PullRefreshBackStateFooter::titleForState(int state) const {
    return detail::refreshTitleForState(stateTitles_, state);
}

void PullRefreshBackStateFooter::prepare() {
    PullRefreshBackFooter::prepare();
    setTitle("上拉可以加载更多", PullRefreshState::Idle);
    setTitle("松开立即加载更多", PullRefreshState::Pulling);
    setTitle("正在加载更多的数据...", PullRefreshState::Refreshing);
    setTitle("已经全部加载完毕", PullRefreshState::NoMoreData);
}

void PullRefreshBackStateFooter::placeSubviews() {
    PullRefreshBackFooter::placeSubviews();
    stateLabel()->setFrame(bounds());
}

void PullRefreshBackStateFooter::setState(int newState) {
    if (newState == state()) return;
    PullRefreshBackFooter::setState(newState);
    stateLabel()->setText(titleForState(newState));
}

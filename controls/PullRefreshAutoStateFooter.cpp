#include "controls/PullRefreshAutoStateFooter.h"

#include "controls/PullRefreshSubviewSupport.h"
#include "controls/UILabel+PullRefresh.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UITapGestureRecognizer.h"

Ref<UILabel> PullRefreshAutoStateFooter::stateLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, stateLabel_, UILabel_PullRefresh::label);
}

void PullRefreshAutoStateFooter::setTitle(const std::optional<std::string>& title, int state) {
    NS_ASSERT_MAIN_THREAD();
    if (!title) return;
    stateTitles_[state] = *title;
    stateLabel()->setText(titleForState(this->state()));
}

std::optional<std::string> PullRefreshAutoStateFooter::titleForState(int state) const {
    return detail::refreshTitleForState(stateTitles_, state);
}

void PullRefreshAutoStateFooter::stateLabelClick() {
    NS_ASSERT_MAIN_THREAD();
    if (state() == PullRefreshState::Idle) beginRefreshing();
}

void PullRefreshAutoStateFooter::prepare() {
    PullRefreshAutoFooter::prepare();
    setTitle("点击或上拉加载更多", PullRefreshState::Idle);
    setTitle("正在加载更多的数据...", PullRefreshState::Refreshing);
    setTitle("已经全部加载完毕", PullRefreshState::NoMoreData);

    auto label = stateLabel();
    label->setUserInteractionEnabled(true);
    // The footer is the target; the recogniser and its action hold it weakly.
    Weak<PullRefreshAutoStateFooter> weak = selfAs<PullRefreshAutoStateFooter>();
    label->addGestureRecognizer(make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>&) {
        if (auto footer = weak.lock()) footer->stateLabelClick();
    }));
}

void PullRefreshAutoStateFooter::placeSubviews() {
    PullRefreshAutoFooter::placeSubviews();
    stateLabel()->setFrame(bounds());
}

void PullRefreshAutoStateFooter::setState(int newState) {
    if (newState == state()) return;
    PullRefreshAutoFooter::setState(newState);
    if (refreshingTitleHidden_ && newState == PullRefreshState::Refreshing) {
        stateLabel()->setText(std::nullopt);
    } else {
        stateLabel()->setText(titleForState(newState));
    }
}

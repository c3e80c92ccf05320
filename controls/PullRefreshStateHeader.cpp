#include "controls/PullRefreshStateHeader.h"

#include "controls/PullRefreshSubviewSupport.h"
#include "controls/UILabel+PullRefresh.h"
#include "controls/UIView+RMExtension.h"
#include "foundation/NSCalendar.h"
#include "foundation/NSDateFormatter.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSUserDefaults.h"

using namespace UIView_RMExtension;

Ref<UILabel> PullRefreshStateHeader::stateLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, stateLabel_, UILabel_PullRefresh::label);
}

Ref<UILabel> PullRefreshStateHeader::lastUpdatedTimeLabel() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, lastUpdatedTimeLabel_, UILabel_PullRefresh::label);
}

void PullRefreshStateHeader::setTitle(const std::optional<std::string>& title, int state) {
    NS_ASSERT_MAIN_THREAD();
    if (!title) return;
    stateTitles_[state] = *title;
    stateLabel()->setText(titleForState(this->state()));
}

std::optional<std::string> PullRefreshStateHeader::titleForState(int state) const {
    return detail::refreshTitleForState(stateTitles_, state);
}

std::string PullRefreshStateHeader::lastUpdatedTimeTextFor(const std::optional<NSDate>& date,
                                                           const NSDate& now) {
    if (!date) return "最后更新：无记录";
    auto calendar = NSCalendar::currentCalendar();
    const unsigned long units = NSCalendarUnitYear | NSCalendarUnitMonth | NSCalendarUnitDay |
                                NSCalendarUnitHour | NSCalendarUnitMinute;
    auto then = calendar->components(units, *date);
    auto today = calendar->components(units, now);
    const char* format = "yyyy-MM-dd HH:mm";
    if (then->year() == today->year()) {
        format =
            (then->month() == today->month() && then->day() == today->day()) ? "今天 HH:mm" : "MM-dd HH:mm";
    }
    auto formatter = make<NSDateFormatter>();
    formatter->setDateFormat(format);
    return "最后更新：" + formatter->stringFromDate(*date);
}

void PullRefreshStateHeader::setLastUpdatedTimeKey(const std::string& key) {
    PullRefreshHeader::setLastUpdatedTimeKey(key);
    const auto date = lastUpdatedTime();
    if (lastUpdatedTimeText_) {
        lastUpdatedTimeLabel()->setText(lastUpdatedTimeText_(date));
        return;
    }
    lastUpdatedTimeLabel()->setText(lastUpdatedTimeTextFor(date, NSDate::date()));
}

void PullRefreshStateHeader::prepare() {
    PullRefreshHeader::prepare();
    setTitle("下拉可以刷新", PullRefreshState::Idle);
    setTitle("松开立即刷新", PullRefreshState::Pulling);
    setTitle("正在刷新数据中...", PullRefreshState::Refreshing);
}

void PullRefreshStateHeader::placeSubviews() {
    PullRefreshHeader::placeSubviews();
    auto state = stateLabel();
    if (state->isHidden()) return;
    auto time = lastUpdatedTimeLabel();
    if (time->isHidden()) {
        state->setFrame(bounds());
        return;
    }
    const CGFloat width = pr_w(*this);
    const CGFloat stateHeight = pr_h(*this) * 0.5;
    state->setFrame(CGRectMake(0, 0, width, stateHeight));
    time->setFrame(CGRectMake(0, stateHeight, width, pr_h(*this) - stateHeight));
}

void PullRefreshStateHeader::setState(int newState) {
    if (newState == state()) return;
    PullRefreshHeader::setState(newState);
    stateLabel()->setText(titleForState(newState));
    setLastUpdatedTimeKey(lastUpdatedTimeKey());
}

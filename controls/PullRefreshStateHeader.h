#pragma once
// A pull-down header that writes what it does: a state label with a title per state (idle
// "下拉可以刷新", pulling "松开立即刷新", refreshing "正在刷新数据中..."; the other states have none
// and leave the label empty) and, below it, the time of the last finished refresh:
// "最后更新：今天 09:05", "最后更新：03-14 09:05" in another day of this year,
// "最后更新：2023-03-14 09:05" in an earlier year, "最后更新：无记录" when none is stored.
// lastUpdatedTimeText replaces that text with the caller's.
//
// The time label is refreshed on every state change and whenever the key changes, so after a
// refresh ends it shows the time just stored. Labels are made on first use and kept by the
// header's subview list. Main thread only.

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "controls/PullRefreshHeader.h"
#include "uikit/UILabel.h"

class PullRefreshStateHeader : public PullRefreshHeader {
  public:
    using LastUpdatedTimeTextBlock = std::function<std::string(const std::optional<NSDate>& lastUpdatedTime)>;

    using PullRefreshHeader::PullRefreshHeader;
    std::string className() const override { return "PullRefreshStateHeader"; }

    static Ref<PullRefreshStateHeader> headerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshStateHeader>(std::move(block));
    }
    static Ref<PullRefreshStateHeader> headerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                  RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshStateHeader>(target, std::move(action));
    }

    // State → title.
    std::map<int, std::string>& stateTitles() { return stateTitles_; }
    void setStateTitles(std::map<int, std::string> titles) { stateTitles_ = std::move(titles); }
    Ref<UILabel> stateLabel();
    Ref<UILabel> lastUpdatedTimeLabel();
    // A nil title is ignored; the label shows the current state's title at once.
    void setTitle(const std::optional<std::string>& title, int state);
    // The stored title of a state, or nil.
    std::optional<std::string> titleForState(int state) const;

    // Also refreshes the time label.
    void setLastUpdatedTimeKey(const std::string& key) override;
    void prepare() override;
    void placeSubviews() override;
    void setState(int state) override;

    const LastUpdatedTimeTextBlock& lastUpdatedTimeText() const { return lastUpdatedTimeText_; }
    void setLastUpdatedTimeText(LastUpdatedTimeTextBlock block) { lastUpdatedTimeText_ = std::move(block); }

    // The built-in time text for a stored time (nil: no record), as of `now`.
    static std::string lastUpdatedTimeTextFor(const std::optional<NSDate>& date, const NSDate& now);

  private:
    std::map<int, std::string> stateTitles_;
    Weak<UILabel> stateLabel_;
    Weak<UILabel> lastUpdatedTimeLabel_;
    LastUpdatedTimeTextBlock lastUpdatedTimeText_;
};

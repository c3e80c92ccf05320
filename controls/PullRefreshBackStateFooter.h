#pragma once
// The pull-up footer with a state label: "上拉可以加载更多" while idle, "松开立即加载更多" while a
// release would load, "正在加载更多的数据..." while loading and "已经全部加载完毕" at the end of
// the list; WillRefresh leaves it empty. The label fills the footer and is made on first use.
// Main thread only.

#include <map>
#include <optional>
#include <string>

#include "controls/PullRefreshBackFooter.h"
#include "uikit/UILabel.h"

class PullRefreshBackStateFooter : public PullRefreshBackFooter {
  public:
    using PullRefreshBackFooter::PullRefreshBackFooter;
    std::string className() const override { return "PullRefreshBackStateFooter"; }

    static Ref<PullRefreshBackStateFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshBackStateFooter>(std::move(block));
    }
    static Ref<PullRefreshBackStateFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                      RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshBackStateFooter>(target, std::move(action));
    }

    std::map<int, std::string>& stateTitles() { return stateTitles_; }
    void setStateTitles(std::map<int, std::string> titles) { stateTitles_ = std::move(titles); }
    Ref<UILabel> stateLabel();
    void setTitle(const std::optional<std::string>& title, int state);
    std::optional<std::string> titleForState(int state) const;

    void prepare() override;
    void placeSubviews() override;
    void setState(int state) override;

  private:
    std::map<int, std::string> stateTitles_;
    Weak<UILabel> stateLabel_;
};

#pragma once
// The automatic footer with a tappable state label: "点击或上拉加载更多" while idle (a tap
// starts loading), "正在加载更多的数据..." while loading (empty with refreshingTitleHidden) and
// "已经全部加载完毕" once the list is read to its end; the other states leave it empty. The
// label fills the footer and is made on first use. Main thread only.

#include <map>
#include <optional>
#include <string>

#include "controls/PullRefreshAutoFooter.h"
#include "uikit/UILabel.h"

class PullRefreshAutoStateFooter : public PullRefreshAutoFooter {
  public:
    using PullRefreshAutoFooter::PullRefreshAutoFooter;
    std::string className() const override { return "PullRefreshAutoStateFooter"; }

    static Ref<PullRefreshAutoStateFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshAutoStateFooter>(std::move(block));
    }
    static Ref<PullRefreshAutoStateFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                      RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshAutoStateFooter>(target, std::move(action));
    }

    std::map<int, std::string>& stateTitles() { return stateTitles_; }
    void setStateTitles(std::map<int, std::string> titles) { stateTitles_ = std::move(titles); }
    Ref<UILabel> stateLabel();
    // A nil title is ignored; the label shows the current state's title at once.
    void setTitle(const std::optional<std::string>& title, int state);
    std::optional<std::string> titleForState(int state) const;
    // The label's tap: starts loading when idle.
    void stateLabelClick();

    void prepare() override;
    void placeSubviews() override;
    void setState(int state) override;

    bool isRefreshingTitleHidden() const { return refreshingTitleHidden_; }
    void setRefreshingTitleHidden(bool hidden) { refreshingTitleHidden_ = hidden; }

  private:
    std::map<int, std::string> stateTitles_;
    Weak<UILabel> stateLabel_;
    bool refreshingTitleHidden_ = false;
};

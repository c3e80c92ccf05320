#pragma once
// The pull-down header every list of the app uses: the state texts of PullRefreshStateHeader,
// with an arrow 100 points left of the text (centred when the state label is hidden) that turns
// half a turn once letting go would refresh, and an activity indicator in the arrow's place while
// refreshing. After a refresh the indicator fades out over 0.4 s and the arrow comes back, unless
// a new refresh began meanwhile.
//
// The arrow picture comes from PullRefreshResources; without it the arrow view stays empty and the
// indicator keeps its own size at the arrow's centre. Main thread only.

#include "controls/PullRefreshStateHeader.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIImageView.h"

class PullRefreshNormalHeader : public PullRefreshStateHeader {
  public:
    using PullRefreshStateHeader::PullRefreshStateHeader;
    std::string className() const override { return "PullRefreshNormalHeader"; }

    static Ref<PullRefreshNormalHeader> headerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshNormalHeader>(std::move(block));
    }
    static Ref<PullRefreshNormalHeader> headerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                   RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshNormalHeader>(target, std::move(action));
    }

    // Made on first use.
    Ref<UIImageView> arrowView();
    Ref<UIActivityIndicatorView> loadingView();
    // Replacing the indicator takes the old one out of the header.
    void setLoadingView(const Ref<UIActivityIndicatorView>& view);
    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return activityIndicatorViewStyle_; }
    // Drops the current indicator (a new one of the style is made on next use) and asks for layout.
    void setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style);

    void prepare() override;
    void placeSubviews() override;
    void setState(int state) override;

  private:
    Weak<UIImageView> arrowView_;
    Weak<UIActivityIndicatorView> loadingView_;
    UIActivityIndicatorViewStyle activityIndicatorViewStyle_ = UIActivityIndicatorViewStyleGray;
};

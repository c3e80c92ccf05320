#pragma once
// The pull-up footer with an arrow and an activity indicator: the state texts of
// PullRefreshBackStateFooter, an arrow 100 points left of the text (centred when the label is
// hidden) that points up at rest and turns down once a release would load, and an indicator in
// its place while loading. After loading the indicator fades out over 0.4 s and the arrow comes
// back, unless loading began again or the list reached its end meanwhile. Main thread only.

#include "controls/PullRefreshBackStateFooter.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIImageView.h"

class PullRefreshBackNormalFooter : public PullRefreshBackStateFooter {
  public:
    using PullRefreshBackStateFooter::PullRefreshBackStateFooter;
    std::string className() const override { return "PullRefreshBackNormalFooter"; }

    static Ref<PullRefreshBackNormalFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshBackNormalFooter>(std::move(block));
    }
    static Ref<PullRefreshBackNormalFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                       RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshBackNormalFooter>(target, std::move(action));
    }

    Ref<UIImageView> arrowView();
    Ref<UIActivityIndicatorView> loadingView();
    void setLoadingView(const Ref<UIActivityIndicatorView>& view);
    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return activityIndicatorViewStyle_; }
    void setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style);

    void prepare() override;
    void placeSubviews() override;
    void setState(int state) override;

  private:
    Weak<UIImageView> arrowView_;
    Weak<UIActivityIndicatorView> loadingView_;
    UIActivityIndicatorViewStyle activityIndicatorViewStyle_ = UIActivityIndicatorViewStyleGray;
};

#pragma once
// The load-more footer every list of the app uses: the state texts of PullRefreshAutoStateFooter
// with an activity indicator while loading, 100 points left of the text, or centred when the
// loading title is hidden (hiding the state label itself does not move it). Main thread only.

#include "controls/PullRefreshAutoStateFooter.h"
#include "uikit/UIActivityIndicatorView.h"

class PullRefreshAutoNormalFooter : public PullRefreshAutoStateFooter {
  public:
    using PullRefreshAutoStateFooter::PullRefreshAutoStateFooter;
    std::string className() const override { return "PullRefreshAutoNormalFooter"; }

    static Ref<PullRefreshAutoNormalFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshAutoNormalFooter>(std::move(block));
    }
    static Ref<PullRefreshAutoNormalFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                       RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshAutoNormalFooter>(target, std::move(action));
    }

    // Made on first use; hides itself when stopped.
    Ref<UIActivityIndicatorView> loadingView();
    // Replacing the indicator takes the old one out of the footer.
    void setLoadingView(const Ref<UIActivityIndicatorView>& view);
    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return activityIndicatorViewStyle_; }
    void setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style);

    void prepare() override;
    void placeSubviews() override;
    void setState(int state) override;

  private:
    Weak<UIActivityIndicatorView> loadingView_;
    UIActivityIndicatorViewStyle activityIndicatorViewStyle_ = UIActivityIndicatorViewStyleGray;
};

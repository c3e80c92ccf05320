#pragma once
// A pull-up footer with frame-by-frame pictures: while idle the idle pictures follow the pull,
// the pulling and loading pictures play as animations, and the pictures are hidden at the end of
// the list. They sit left of the text, or centred when the state label is hidden. Main thread
// only.

#include <optional>
#include <vector>

#include "controls/PullRefreshBackStateFooter.h"
#include "controls/PullRefreshGifSupport.h"
#include "uikit/UIImageView.h"

class PullRefreshBackGifFooter : public PullRefreshBackStateFooter {
  public:
    using PullRefreshBackStateFooter::PullRefreshBackStateFooter;
    std::string className() const override { return "PullRefreshBackGifFooter"; }

    static Ref<PullRefreshBackGifFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshBackGifFooter>(std::move(block));
    }
    static Ref<PullRefreshBackGifFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                    RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshBackGifFooter>(target, std::move(action));
    }

    Ref<UIImageView> gifView();
    void setGifView(const Ref<UIImageView>& view);
    detail::PullRefreshStateImages& stateImages() { return stateImages_; }
    void setStateImages(detail::PullRefreshStateImages images) { stateImages_ = std::move(images); }
    detail::PullRefreshStateDurations& stateDurations() { return stateDurations_; }
    void setStateDurations(detail::PullRefreshStateDurations durations) {
        stateDurations_ = std::move(durations);
    }

    void setImages(const std::optional<std::vector<Ref<UIImage>>>& images, double duration, int state);
    void setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state);

    void setPullingPercent(double percent) override;
    void placeSubviews() override;
    void setState(int state) override;

  private:
    Weak<UIImageView> gifView_;
    detail::PullRefreshStateImages stateImages_;
    detail::PullRefreshStateDurations stateDurations_;
};

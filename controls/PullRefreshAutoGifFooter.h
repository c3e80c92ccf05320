#pragma once
// An automatic load-more footer that plays frame-by-frame pictures while loading instead of the
// activity indicator: left of the text, or centred when the loading title is hidden. The pictures
// are hidden while idle and at the end of the list. Main thread only.

#include <optional>
#include <vector>

#include "controls/PullRefreshAutoStateFooter.h"
#include "controls/PullRefreshGifSupport.h"
#include "uikit/UIImageView.h"

class PullRefreshAutoGifFooter : public PullRefreshAutoStateFooter {
  public:
    using PullRefreshAutoStateFooter::PullRefreshAutoStateFooter;
    std::string className() const override { return "PullRefreshAutoGifFooter"; }

    static Ref<PullRefreshAutoGifFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshAutoGifFooter>(std::move(block));
    }
    static Ref<PullRefreshAutoGifFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                    RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshAutoGifFooter>(target, std::move(action));
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

    void placeSubviews() override;
    void setState(int state) override;

  private:
    Weak<UIImageView> gifView_;
    detail::PullRefreshStateImages stateImages_;
    detail::PullRefreshStateDurations stateDurations_;
};

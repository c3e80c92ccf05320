#pragma once
// A pull-down header with frame-by-frame pictures instead of the arrow: while idle the pictures
// for the idle state follow the pull (the frame at floor(count × percent), the last one from a
// full pull on), the pulling and refreshing pictures play as animations. The pictures sit left of
// the centred texts, or centred when both labels are hidden. A picture taller than the header
// makes the header that tall. Main thread only.

#include <optional>
#include <vector>

#include "controls/PullRefreshGifSupport.h"
#include "controls/PullRefreshStateHeader.h"
#include "uikit/UIImageView.h"

class PullRefreshGifHeader : public PullRefreshStateHeader {
  public:
    using PullRefreshStateHeader::PullRefreshStateHeader;
    std::string className() const override { return "PullRefreshGifHeader"; }

    static Ref<PullRefreshGifHeader> headerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshGifHeader>(std::move(block));
    }
    static Ref<PullRefreshGifHeader> headerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshGifHeader>(target, std::move(action));
    }

    // Made empty on first use.
    Ref<UIImageView> gifView();
    void setGifView(const Ref<UIImageView>& view);
    detail::PullRefreshStateImages& stateImages() { return stateImages_; }
    void setStateImages(detail::PullRefreshStateImages images) { stateImages_ = std::move(images); }
    detail::PullRefreshStateDurations& stateDurations() { return stateDurations_; }
    void setStateDurations(detail::PullRefreshStateDurations durations) {
        stateDurations_ = std::move(durations);
    }

    // A nil list is ignored.
    void setImages(const std::optional<std::vector<Ref<UIImage>>>& images, double duration, int state);
    // 0.1 s per image.
    void setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state);

    void setPullingPercent(double percent) override;
    void placeSubviews() override;
    void setState(int state) override;

  private:
    Weak<UIImageView> gifView_;
    detail::PullRefreshStateImages stateImages_;
    detail::PullRefreshStateDurations stateDurations_;
};

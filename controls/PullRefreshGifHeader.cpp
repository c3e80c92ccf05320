#include "controls/PullRefreshGifHeader.h"

#include "controls/PullRefreshSubviewSupport.h"
#include "foundation/NSMainThreadCheck.h"

Ref<UIImageView> PullRefreshGifHeader::gifView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, gifView_, [] { return make<UIImageView>(); });
}

void PullRefreshGifHeader::setGifView(const Ref<UIImageView>& view) {
    NS_ASSERT_MAIN_THREAD();
    detail::replaceSubview(*this, gifView_, view);
}

void PullRefreshGifHeader::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, double duration,
                                     int state) {
    NS_ASSERT_MAIN_THREAD();
    detail::storeGifImages(stateImages_, stateDurations_, *this, images, duration, state);
}

void PullRefreshGifHeader::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state) {
    NS_ASSERT_MAIN_THREAD();
    setImages(images, detail::defaultGifDuration(images ? images->size() : 0), state);
}

void PullRefreshGifHeader::setPullingPercent(double percent) {
    PullRefreshStateHeader::setPullingPercent(percent);
    if (state() != PullRefreshState::Idle) return;
    const auto& idle = detail::gifImagesForState(stateImages_, PullRefreshState::Idle);
    if (idle.empty()) return;
    detail::showGifFrameForPercent(*gifView(), idle, percent);
}

void PullRefreshGifHeader::placeSubviews() {
    PullRefreshStateHeader::placeSubviews();
    auto gif = gifView();
    detail::placeGifView(*gif, *this, stateLabel()->isHidden() && lastUpdatedTimeLabel()->isHidden());
}

void PullRefreshGifHeader::setState(int newState) {
    if (newState == state()) return;
    PullRefreshStateHeader::setState(newState);
    if (newState == PullRefreshState::Pulling || newState == PullRefreshState::Refreshing) {
        detail::playGifImages(*gifView(), stateImages_, stateDurations_, newState);
    }
}

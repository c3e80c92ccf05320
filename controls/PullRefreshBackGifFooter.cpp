#include "controls/PullRefreshBackGifFooter.h"

#include "controls/PullRefreshSubviewSupport.h"
#include "foundation/NSMainThreadCheck.h"

Ref<UIImageView> PullRefreshBackGifFooter::gifView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, gifView_, [] { return make<UIImageView>(); });
}

void PullRefreshBackGifFooter::setGifView(const Ref<UIImageView>& view) {
    NS_ASSERT_MAIN_THREAD();
    detail::replaceSubview(*this, gifView_, view);
}

void PullRefreshBackGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images,
                                         double duration, int state) {
    NS_ASSERT_MAIN_THREAD();
    detail::storeGifImages(stateImages_, stateDurations_, *this, images, duration, state);
}

void PullRefreshBackGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state) {
    NS_ASSERT_MAIN_THREAD();
    setImages(images, detail::defaultGifDuration(images ? images->size() : 0), state);
}

void PullRefreshBackGifFooter::setPullingPercent(double percent) {
    PullRefreshBackStateFooter::setPullingPercent(percent);
    if (state() != PullRefreshState::Idle) return;
    const auto& idle = detail::gifImagesForState(stateImages_, PullRefreshState::Idle);
    if (idle.empty()) return;
    detail::showGifFrameForPercent(*gifView(), idle, percent);
}

void PullRefreshBackGifFooter::placeSubviews() {
    PullRefreshBackStateFooter::placeSubviews();
    auto gif = gifView();
    detail::placeGifView(*gif, *this, stateLabel()->isHidden());
}

void PullRefreshBackGifFooter::setState(int newState) {
    if (newState == state()) return;
    PullRefreshBackStateFooter::setState(newState);
    auto gif = gifView();
    if (newState == PullRefreshState::Pulling || newState == PullRefreshState::Refreshing) {
        if (!detail::gifImagesForState(stateImages_, newState).empty()) {
            gif->setHidden(false);
            detail::playGifImages(*gif, stateImages_, stateDurations_, newState);
        }
    } else if (newState == PullRefreshState::Idle) {
        gif->setHidden(false);
    } else if (newState == PullRefreshState::NoMoreData) {
        gif->setHidden(true);
    }
}

#include "controls/PullRefreshAutoGifFooter.h"

#include "controls/PullRefreshSubviewSupport.h"
#include "foundation/NSMainThreadCheck.h"

Ref<UIImageView> PullRefreshAutoGifFooter::gifView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return detail::lazySubview(*this, gifView_, [] { return make<UIImageView>(); });
}

void PullRefreshAutoGifFooter::setGifView(const Ref<UIImageView>& view) {
    NS_ASSERT_MAIN_THREAD();
    detail::replaceSubview(*this, gifView_, view);
}

void PullRefreshAutoGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images,
                                         double duration, int state) {
    NS_ASSERT_MAIN_THREAD();
    detail::storeGifImages(stateImages_, stateDurations_, *this, images, duration, state);
}

void PullRefreshAutoGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state) {
    NS_ASSERT_MAIN_THREAD();
    setImages(images, detail::defaultGifDuration(images ? images->size() : 0), state);
}

void PullRefreshAutoGifFooter::placeSubviews() {
    PullRefreshAutoStateFooter::placeSubviews();
    auto gif = gifView();
    detail::placeGifView(*gif, *this, isRefreshingTitleHidden());
}

void PullRefreshAutoGifFooter::setState(int newState) {
    if (newState == state()) return;
    PullRefreshAutoStateFooter::setState(newState);
    auto gif = gifView();
    if (newState == PullRefreshState::Refreshing) {
        if (!detail::gifImagesForState(stateImages_, newState).empty()) {
            gif->setHidden(false);
            detail::playGifImages(*gif, stateImages_, stateDurations_, newState);
        }
    } else if (newState == PullRefreshState::Idle || newState == PullRefreshState::NoMoreData) {
        gif->stopAnimating();
        gif->setHidden(true);
    }
}

#include "controls/PullRefreshBackGifFooter.h"

#include <algorithm>

#include "controls/UIView+RMExtension.h"

using namespace UIView_RMExtension;

Ref<UIImageView> PullRefreshBackGifFooter::gifView() {
    auto view = gifView_.lock();
    if (!view) {
        view = make<UIImageView>();
        addSubview(view);
        gifView_ = view;
    }
    return view;
}

void PullRefreshBackGifFooter::setGifView(const Ref<UIImageView>& view) {
    auto old = gifView_.lock();
    if (old == view) return;
    if (old) old->removeFromSuperview();
    gifView_ = view;
    if (view && view->superviewPointer() != this) addSubview(view);
}

void PullRefreshBackGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images,
                                         double duration, int state) {
    detail::storeGifImages(stateImages_, stateDurations_, *this, images, duration, state);
}

void PullRefreshBackGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state) {
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
    gif->setFrame(bounds());
    if (stateLabel()->isHidden()) {
        gif->setContentMode(UIViewContentModeCenter);
    } else {
        gif->setContentMode(UIViewContentModeRight);
        setPr_w(*gif, std::max<CGFloat>(0, pr_w(*this) * 0.5 - 90));
    }
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

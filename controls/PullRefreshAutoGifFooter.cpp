#include "controls/PullRefreshAutoGifFooter.h"

#include <algorithm>

#include "controls/UIView+RMExtension.h"

using namespace UIView_RMExtension;

Ref<UIImageView> PullRefreshAutoGifFooter::gifView() {
    auto view = gifView_.lock();
    if (!view) {
        view = make<UIImageView>();
        addSubview(view);
        gifView_ = view;
    }
    return view;
}

void PullRefreshAutoGifFooter::setGifView(const Ref<UIImageView>& view) {
    auto old = gifView_.lock();
    if (old == view) return;
    if (old) old->removeFromSuperview();
    gifView_ = view;
    if (view && view->superviewPointer() != this) addSubview(view);
}

void PullRefreshAutoGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images,
                                         double duration, int state) {
    detail::storeGifImages(stateImages_, stateDurations_, *this, images, duration, state);
}

void PullRefreshAutoGifFooter::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state) {
    setImages(images, detail::defaultGifDuration(images ? images->size() : 0), state);
}

void PullRefreshAutoGifFooter::placeSubviews() {
    PullRefreshAutoStateFooter::placeSubviews();
    auto gif = gifView();
    gif->setFrame(bounds());
    if (isRefreshingTitleHidden()) {
        gif->setContentMode(UIViewContentModeCenter);
    } else {
        gif->setContentMode(UIViewContentModeRight);
        setPr_w(*gif, std::max<CGFloat>(0, pr_w(*this) * 0.5 - 90));
    }
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

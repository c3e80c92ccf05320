#include "controls/PullRefreshGifHeader.h"

#include <algorithm>

#include "controls/UIView+RMExtension.h"

using namespace UIView_RMExtension;

Ref<UIImageView> PullRefreshGifHeader::gifView() {
    auto view = gifView_.lock();
    if (!view) {
        view = make<UIImageView>();
        addSubview(view);
        gifView_ = view;
    }
    return view;
}

void PullRefreshGifHeader::setGifView(const Ref<UIImageView>& view) {
    auto old = gifView_.lock();
    if (old == view) return;
    if (old) old->removeFromSuperview();
    gifView_ = view;
    if (view && view->superviewPointer() != this) addSubview(view);
}

void PullRefreshGifHeader::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, double duration,
                                     int state) {
    detail::storeGifImages(stateImages_, stateDurations_, *this, images, duration, state);
}

void PullRefreshGifHeader::setImages(const std::optional<std::vector<Ref<UIImage>>>& images, int state) {
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
    gif->setFrame(bounds());
    if (stateLabel()->isHidden() && lastUpdatedTimeLabel()->isHidden()) {
        gif->setContentMode(UIViewContentModeCenter);
    } else {
        gif->setContentMode(UIViewContentModeRight);
        // Never a negative width while the header is narrower than the text.
        setPr_w(*gif, std::max<CGFloat>(0, pr_w(*this) * 0.5 - 90));
    }
}

void PullRefreshGifHeader::setState(int newState) {
    if (newState == state()) return;
    PullRefreshStateHeader::setState(newState);
    if (newState == PullRefreshState::Pulling || newState == PullRefreshState::Refreshing) {
        detail::playGifImages(*gifView(), stateImages_, stateDurations_, newState);
    }
}

#include "controls/PullRefreshGifSupport.h"

#include <algorithm>
#include <cmath>

#include "controls/UIView+RMExtension.h"

namespace detail {

void storeGifImages(PullRefreshStateImages& images, PullRefreshStateDurations& durations, UIView& control,
                    const std::optional<std::vector<Ref<UIImage>>>& stateImages, double duration, int state) {
    if (!stateImages) return;
    images[state] = *stateImages;
    durations[state] = duration;
    if (stateImages->empty() || !stateImages->front()) return;
    const CGFloat height = stateImages->front()->size().height;
    if (height > UIView_RMExtension::pr_h(control)) UIView_RMExtension::setPr_h(control, height);
}

double defaultGifDuration(std::size_t imageCount) {
    return static_cast<double>(imageCount) * 0.1;
}

void showGifFrameForPercent(UIImageView& view, const std::vector<Ref<UIImage>>& images, double percent) {
    if (images.empty()) return;
    view.stopAnimating();
    const double position = std::floor(static_cast<double>(images.size()) * percent);
    // Also keeps NaN and negative pulls (content pushed the other way) on a real frame.
    std::size_t index = 0;
    if (position > 0) {
        index = position >= static_cast<double>(images.size() - 1) ? images.size() - 1
                                                                   : static_cast<std::size_t>(position);
    }
    view.setImage(images[index]);
}

void placeGifView(UIImageView& view, UIView& control, bool textHidden) {
    view.setFrame(control.bounds());
    if (textHidden) {
        view.setContentMode(UIViewContentModeCenter);
    } else {
        view.setContentMode(UIViewContentModeRight);
        UIView_RMExtension::setPr_w(view, std::max<CGFloat>(0, UIView_RMExtension::pr_w(control) * 0.5 - 90));
    }
}

const std::vector<Ref<UIImage>>& gifImagesForState(const PullRefreshStateImages& images, int state) {
    static const std::vector<Ref<UIImage>> none;
    auto it = images.find(state);
    return it == images.end() ? none : it->second;
}

bool playGifImages(UIImageView& view, const PullRefreshStateImages& images,
                   const PullRefreshStateDurations& durations, int state) {
    const auto& frames = gifImagesForState(images, state);
    if (frames.empty()) return false;
    view.stopAnimating();
    if (frames.size() == 1) {
        view.setImage(frames.front());
        return true;
    }
    view.setAnimationImages(frames);
    auto it = durations.find(state);
    view.setAnimationDuration(it == durations.end() ? defaultGifDuration(frames.size()) : it->second);
    view.startAnimating();
    return true;
}

}  // namespace detail

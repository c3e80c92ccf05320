#pragma once
// The frame-by-frame pictures of the gif headers and footers: images and an animation duration
// per state, shown in one image view. Shared by PullRefreshGifHeader, PullRefreshAutoGifFooter
// and PullRefreshBackGifFooter.

#include <map>
#include <optional>
#include <vector>

#include "graphics/UIImage.h"
#include "uikit/UIImageView.h"

namespace detail {

using PullRefreshStateImages = std::map<int, std::vector<Ref<UIImage>>>;
using PullRefreshStateDurations = std::map<int, double>;

// Stores the images and duration of a state (a nil list is ignored) and grows the control to the
// first image's height when that is taller (never shrinks it).
void storeGifImages(PullRefreshStateImages& images, PullRefreshStateDurations& durations, UIView& control,
                    const std::optional<std::vector<Ref<UIImage>>>& stateImages, double duration, int state);
// 0.1 s per image.
double defaultGifDuration(std::size_t imageCount);
// Stops any animation and shows the image of the list at index floor(count × percent), kept
// between the first and the last. Nothing when the list is empty.
void showGifFrameForPercent(UIImageView& view, const std::vector<Ref<UIImage>>& images, double percent);
// Stops any animation, then shows a single image, or plays several over the duration. False
// (and nothing changes) when the state has no images.
bool playGifImages(UIImageView& view, const PullRefreshStateImages& images,
                   const PullRefreshStateDurations& durations, int state);
// Lays the picture view over the control: centred when the control's text is hidden, else right
// aligned in the space left of the centred text (never a negative width while the control is
// narrower than the text).
void placeGifView(UIImageView& view, UIView& control, bool textHidden);
// The images of a state (empty when none).
const std::vector<Ref<UIImage>>& gifImagesForState(const PullRefreshStateImages& images, int state);

}  // namespace detail

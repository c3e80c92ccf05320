#pragma once
// UIImage(Thumbnail): small rounded square thumbnails.

#include "graphics/UIImage.h"

namespace UIImage_Thumbnail {

// A new 40 x 40 point image at the screen's scale: the picture scaled to fill the square, centred,
// clipped to corners of radius 5, transparent outside them. nullptr for a null image or one with
// no area (no scale fills a square from nothing).
Ref<UIImage> getThumbnailFromImage(const Ref<UIImage>& image);

}  // namespace UIImage_Thumbnail

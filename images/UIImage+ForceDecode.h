#pragma once
// Forced decompression: redraws a still picture into a fresh device-RGB bitmap in the layout the
// display draws fastest (premultiplied alpha first, or no alpha with a skipped first byte for
// opaque pictures), so that showing it later costs no conversion. Animated images, pictures
// already in that layout (as the platform's decoders deliver them) and pictures whose layout no
// bitmap context takes are returned unchanged. Stateless; any thread.

#include "graphics/UIImage.h"

namespace UIImage_ForceDecode {
Ref<UIImage> decodedImageWithImage(const Ref<UIImage>& image);
}  // namespace UIImage_ForceDecode

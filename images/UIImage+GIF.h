#pragma once
// Animated GIF assembly: every frame of a GIF as a frame of one animated image whose duration is
// the sum of the frames' delays (a delay under 0.011 s plays at 0.1 s, as browsers do), a frame
// that cannot be decoded left out; named GIFs from the app's resources; and scaling an animated
// image to a size by aspect-fill cropping. Stateless; any thread (the scaling uses the calling
// thread's image context stack).

#include <cstddef>
#include <string>

#include "foundation/NSData.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGImageSource.h"
#include "graphics/UIImage.h"

namespace UIImage_GIF {
// nullptr for empty bytes; a still image for a GIF of at most one frame (or for other bytes the
// platform decodes); otherwise an animated image.
Ref<UIImage> wi_animatedGIFWithData(const NSData& data);
// Seconds that frame index shows: the unclamped delay, else the delay, else 0.1; under 0.011
// becomes 0.1.
float wi_frameDurationAtIndex(std::size_t index, const CGImageSourceRef& source);
// The resource name + "@2x" (on a screen of scale above 1) or name, of type "gif"; else the
// named image of the bare name.
Ref<UIImage> wi_animatedGIFNamed(const std::string& name);
// Each frame drawn aspect-filled and centred into size; the image itself when size is zero or
// already its size.
Ref<UIImage> wi_animatedImageByScalingAndCroppingToSize(const Ref<UIImage>& image, CGSize size);
}  // namespace UIImage_GIF

#pragma once
// Decoding picture bytes of any known format into a display image: GIF bytes become an animated
// image (or a still one for a single frame), everything else goes to the platform decoder and
// keeps the EXIF orientation it carries. Stateless; any thread.

#include <cstdint>

#include "foundation/NSData.h"
#include "graphics/UIImage.h"

namespace UIImage_MultiFormat {
// nullptr when the bytes decode to nothing (empty, unknown, WebP, TIFF, damaged).
Ref<UIImage> wi_imageWithData(const NSData& data);
// The EXIF orientation of the first picture, mapped; Up when there is none or no picture.
UIImageOrientation wi_imageOrientationFromImageData(const NSData& data);
// EXIF 1...8 to the image orientation; anything else is Up.
UIImageOrientation wi_exifOrientationToiOSOrientation(std::int32_t exifOrientation);
}  // namespace UIImage_MultiFormat

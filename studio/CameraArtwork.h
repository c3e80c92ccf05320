#pragma once
// The watermark camera's pictures: the flash, lens and tab buttons, the strip's cell borders, the
// app's logo stamped on photos and the sticker handles. They are resources outside the code, read
// from the resources folder; a drawn stand-in of the same size and role takes the place of one that
// is missing, so the camera always has something to show and to stamp.

#include <string>

#include "graphics/UIImage.h"

namespace CameraArtwork {

// UIImage::imageNamed, else the drawn stand-in for the names the camera uses; nullptr for any
// other missing name. Thread-safe.
Ref<UIImage> imageNamed(const std::string& name);

}  // namespace CameraArtwork

#pragma once
// The watermark camera's stretch of the road: from the home screen into the camera, a shot of a
// supplied frame, two watermarks placed (one moved and turned), the photo saved and shared to
// WeChat, whose stand-in app keeps what it received.

#include "graphics/UIImage.h"
#include "studio/MainViewController.h"
#include "uikit/UINavigationController.h"

namespace demo {

// `picture` (may be null) goes into the supplied frame. Stops the run (demo::Stop) on a failure.
void driveCamera(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation,
                 const Ref<UIImage>& picture);

}  // namespace demo
